// SPDX-License-Identifier: GPL-3.0-or-later
// TCPView: the TCP header of a complete IPv4 segment (RFC 793).
#pragma once

#include "engine/byteview.h"
#include "engine/ipv4view.h"
#include "engine/wire.h"

// Valid for an unfragmented IPv4 packet of protocol 6 whose payload holds the whole TCP
// header: the data offset gives at least 20 bytes and no more than the payload (a header
// reaching beyond the packet is a lying segment). The segment is the IP payload. Ports are
// raw network-order values; the flags byte is compared whole by the translator.
class TCPView
{
public:
    TCPView() = default;
    explicit TCPView(const IPv4View &ip)
    {
        if (!ip.valid() || ip.protocol() != Wire::kProtocolTCP || ip.isFragment())
            return;
        const ByteView segment = ip.payload();
        const std::size_t headerLength = std::size_t(segment.u8(Wire::kTCPDataOffset) >> 4) * 4;
        if (segment.size() < Wire::kTCPMinHeaderSize || headerLength < Wire::kTCPMinHeaderSize
            || headerLength > segment.size())
            return;
        m_bytes = segment;
        m_headerLength = headerLength;
    }

    bool valid() const { return !m_bytes.isNull(); }
    ByteView segment() const { return m_bytes; }
    std::size_t headerLength() const { return m_headerLength; }

    quint16 sourcePort() const { return m_bytes.raw16(Wire::kTCPSourcePort); }
    bool setSourcePort(quint16 port) { return m_bytes.setRaw16(Wire::kTCPSourcePort, port); }
    quint16 destinationPort() const { return m_bytes.raw16(Wire::kTCPDestinationPort); }
    bool setDestinationPort(quint16 port)
    {
        return m_bytes.setRaw16(Wire::kTCPDestinationPort, port);
    }
    quint8 flags() const { return m_bytes.u8(Wire::kTCPFlags); }
    quint16 checksum() const { return m_bytes.be16(Wire::kTCPChecksum); }
    bool setChecksum(quint16 sum) { return m_bytes.setBe16(Wire::kTCPChecksum, sum); }

private:
    ByteView m_bytes;
    std::size_t m_headerLength = 0;
};
