// SPDX-License-Identifier: GPL-3.0-or-later
// Checksum: RFC 1071 summation and the per-header coverage rules.
#include "engine/checksum.h"

#include "engine/icmpview.h"
#include "engine/tcpview.h"
#include "engine/udpview.h"
#include "engine/wire.h"

#include <QtEndian>
#include <array>
#include <cstring>

namespace {

// One's-complement sum in native byte order (RFC 1071 section 2(B): byte-order
// independence), eight bytes at a time into a 64-bit accumulator (section 2(C): deferred
// carries); each 8-byte load is split into two 32-bit halves so the accumulator cannot
// overflow for any packet size. Every piece must start at an even offset of the covered
// data; only the last piece may have an odd length.
class OnesComplementSum
{
public:
    void add(ByteView bytes)
    {
        const quint8 *p = bytes.data();
        std::size_t n = bytes.size();
        for (; n >= 8; p += 8, n -= 8) {
            quint64 word;
            std::memcpy(&word, p, sizeof word);
            m_sum += (word & 0xFFFFFFFFu) + (word >> 32);
        }
        if (n >= 4) {
            quint32 word;
            std::memcpy(&word, p, sizeof word);
            m_sum += word;
            p += 4;
            n -= 4;
        }
        if (n >= 2) {
            quint16 word;
            std::memcpy(&word, p, sizeof word);
            m_sum += word;
            p += 2;
            n -= 2;
        }
        if (n == 1) {
            // The last byte is the high (first) half of a word whose low half is zero.
            const quint8 padded[2] = {p[0], 0};
            quint16 word;
            std::memcpy(&word, padded, sizeof word);
            m_sum += word;
        }
    }

    // Everything but the 16-bit field at fieldOffset, which counts as zero.
    void addSkipping(ByteView bytes, std::size_t fieldOffset)
    {
        add(bytes.slice(0, fieldOffset));
        add(bytes.from(fieldOffset + 2));
    }

    // The folded and complemented sum as a host-order number.
    quint16 checksum() const
    {
        quint64 sum = m_sum;
        while (sum >> 16)
            sum = (sum & 0xFFFF) + (sum >> 16);
        const quint16 native = quint16(~sum);
        return qFromBigEndian<quint16>(&native);
    }

private:
    quint64 m_sum = 0;
};

// Pseudo-header of RFC 793 section 3.1 / RFC 768 over the final addresses.
void addPseudoHeader(OnesComplementSum &sum, const IPv4View &ip, quint8 protocol,
                     std::size_t transportLength)
{
    std::array<quint8, Wire::kPseudoHeaderSize> pseudo{};
    ByteView view(pseudo.data(), pseudo.size());
    view.setRaw32(0, ip.source());
    view.setRaw32(4, ip.destination());
    view.setU8(9, protocol);
    view.setBe16(10, quint16(transportLength));
    sum.add(view);
}

quint16 transportChecksum(const IPv4View &ip, ByteView transport, std::size_t fieldOffset)
{
    OnesComplementSum sum;
    addPseudoHeader(sum, ip, ip.protocol(), transport.size());
    sum.addSkipping(transport, fieldOffset);
    return sum.checksum();
}

quint16 checksumSkipping(ByteView bytes, std::size_t fieldOffset)
{
    OnesComplementSum sum;
    sum.addSkipping(bytes, fieldOffset);
    return sum.checksum();
}

} // namespace

namespace Checksum {

quint16 compute(ByteView bytes)
{
    OnesComplementSum sum;
    sum.add(bytes);
    return sum.checksum();
}

std::optional<quint16> computeIPv4Header(const IPv4View &ip)
{
    if (!ip.valid())
        return std::nullopt;
    return checksumSkipping(ip.header(), Wire::kIPv4Checksum);
}

bool verifyIPv4Header(const IPv4View &ip)
{
    const std::optional<quint16> sum = computeIPv4Header(ip);
    return sum && *sum == ip.headerChecksum();
}

bool fillIPv4Header(IPv4View &ip)
{
    const std::optional<quint16> sum = computeIPv4Header(ip);
    return sum && ip.setHeaderChecksum(*sum);
}

std::optional<quint16> computeICMP(const IPv4View &ip)
{
    const ICMPView icmp(ip);
    if (!icmp.valid())
        return std::nullopt;
    return checksumSkipping(icmp.message(), Wire::kICMPChecksum);
}

bool verifyICMP(const IPv4View &ip)
{
    const std::optional<quint16> sum = computeICMP(ip);
    return sum && *sum == ICMPView(ip).checksum();
}

bool fillICMP(IPv4View &ip)
{
    const std::optional<quint16> sum = computeICMP(ip);
    return sum && ICMPView(ip).setChecksum(*sum);
}

std::optional<quint16> computeTCP(const IPv4View &ip)
{
    const TCPView tcp(ip);
    if (!tcp.valid())
        return std::nullopt;
    return transportChecksum(ip, tcp.segment(), Wire::kTCPChecksum);
}

bool verifyTCP(const IPv4View &ip)
{
    const std::optional<quint16> sum = computeTCP(ip);
    return sum && *sum == TCPView(ip).checksum();
}

bool fillTCP(IPv4View &ip)
{
    const std::optional<quint16> sum = computeTCP(ip);
    return sum && TCPView(ip).setChecksum(*sum);
}

std::optional<quint16> computeUDP(const IPv4View &ip)
{
    const UDPView udp(ip);
    if (!udp.valid())
        return std::nullopt;
    const quint16 sum = transportChecksum(ip, udp.datagram(), Wire::kUDPChecksum);
    return sum == 0 ? Wire::kUDPZeroChecksum : sum;
}

bool verifyUDP(const IPv4View &ip)
{
    const UDPView udp(ip);
    if (!udp.valid())
        return false;
    if (udp.checksum() == Wire::kUDPNoChecksum)
        return true;
    return computeUDP(ip) == udp.checksum();
}

bool fillUDP(IPv4View &ip)
{
    UDPView udp(ip);
    if (!udp.valid())
        return false;
    if (udp.checksum() == Wire::kUDPNoChecksum)
        return true;
    return udp.setChecksum(*computeUDP(ip));
}

std::optional<quint16> computeQuotedHeader(const QuotedHeaderView &quote)
{
    if (!quote.valid())
        return std::nullopt;
    return checksumSkipping(quote.header(), Wire::kIPv4Checksum);
}

bool verifyQuotedHeader(const QuotedHeaderView &quote)
{
    const std::optional<quint16> sum = computeQuotedHeader(quote);
    return sum && *sum == quote.headerChecksum();
}

bool fillQuotedHeader(QuotedHeaderView &quote)
{
    const std::optional<quint16> sum = computeQuotedHeader(quote);
    return sum && quote.setHeaderChecksum(*sum);
}

} // namespace Checksum
