// SPDX-License-Identifier: GPL-3.0-or-later
// QuotedHeaderView: the offending packet's headers quoted inside an ICMP error.
#pragma once

#include "engine/byteview.h"
#include "engine/icmpview.h"
#include "engine/wire.h"

// How this works: an ICMP destination-unreachable or time-exceeded message carries, from
// message offset 8, the IP header of the packet that caused it and at least the first 64 bits
// of that packet's payload (RFC 792; RFC 1812 section 4.3.2.3 allows more). The view is valid
// only when the quoted header is a version-4 header of at least 20 bytes and it and the 8
// quoted transport bytes lie inside the ICMP message; a shorter quote is truncated and the
// engine drops the message. The quoted total length describes the original packet and is
// never used to size anything. The quoted transport fields are the first 8 bytes behind the
// quoted header: UDP ports and checksum, or the ICMP checksum and echo identifier.
class QuotedHeaderView
{
public:
    QuotedHeaderView() = default;
    explicit QuotedHeaderView(const ICMPView &icmp)
    {
        if (!icmp.isError())
            return;
        const ByteView quote = icmp.message().from(Wire::kICMPQuote);
        const quint8 versionAndLength = quote.u8(Wire::kIPv4VersionAndLength);
        const std::size_t headerLength = std::size_t(versionAndLength & 0x0F) * 4;
        if (quote.size() < Wire::kIPv4MinHeaderSize
            || versionAndLength >> 4 != Wire::kIPv4Version
            || headerLength < Wire::kIPv4MinHeaderSize
            || !quote.contains(headerLength, Wire::kICMPQuotedPayload))
            return;
        m_bytes = quote;
        m_headerLength = headerLength;
    }

    bool valid() const { return !m_bytes.isNull(); }
    std::size_t headerLength() const { return m_headerLength; }
    ByteView header() const { return m_bytes.slice(0, m_headerLength); }
    // The quoted payload: at least 8 bytes on a valid view.
    ByteView transport() const { return valid() ? m_bytes.from(m_headerLength) : ByteView(); }

    quint8 protocol() const { return m_bytes.u8(Wire::kIPv4Protocol); }
    quint16 headerChecksum() const { return m_bytes.be16(Wire::kIPv4Checksum); }
    bool setHeaderChecksum(quint16 sum) { return m_bytes.setBe16(Wire::kIPv4Checksum, sum); }
    quint32 source() const { return m_bytes.raw32(Wire::kIPv4Source); }
    bool setSource(quint32 address) { return m_bytes.setRaw32(Wire::kIPv4Source, address); }
    quint32 destination() const { return m_bytes.raw32(Wire::kIPv4Destination); }
    bool setDestination(quint32 address)
    {
        return m_bytes.setRaw32(Wire::kIPv4Destination, address);
    }

    // Quoted UDP header (network-order ports).
    quint16 udpSourcePort() const { return transport().raw16(Wire::kUDPSourcePort); }
    bool setUdpSourcePort(quint16 port)
    {
        return transport().setRaw16(Wire::kUDPSourcePort, port);
    }
    quint16 udpDestinationPort() const { return transport().raw16(Wire::kUDPDestinationPort); }
    bool setUdpDestinationPort(quint16 port)
    {
        return transport().setRaw16(Wire::kUDPDestinationPort, port);
    }
    bool setUdpChecksum(quint16 sum) { return transport().setBe16(Wire::kUDPChecksum, sum); }

    // Quoted ICMP echo header (network-order identifier).
    quint16 icmpIdentifier() const { return transport().raw16(Wire::kICMPIdentifier); }
    bool setIcmpIdentifier(quint16 id)
    {
        return transport().setRaw16(Wire::kICMPIdentifier, id);
    }
    bool setIcmpChecksum(quint16 sum) { return transport().setBe16(Wire::kICMPChecksum, sum); }

private:
    ByteView m_bytes;
    std::size_t m_headerLength = 0;
};
