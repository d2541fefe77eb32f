// SPDX-License-Identifier: GPL-3.0-or-later
// UDPView: the UDP header of a complete IPv4 datagram (RFC 768).
#pragma once

#include "engine/byteview.h"
#include "engine/ipv4view.h"
#include "engine/wire.h"

// Valid for an unfragmented IPv4 packet of protocol 17 whose payload holds the 8-byte
// header. The datagram is the IP payload (total length minus header length); the UDP length
// field is readable but the engine never sizes anything by it. Ports are raw network-order
// values; a checksum of 0 means the sender computed none.
class UDPView
{
public:
    UDPView() = default;
    explicit UDPView(const IPv4View &ip)
    {
        if (ip.valid() && ip.protocol() == Wire::kProtocolUDP && !ip.isFragment()
            && ip.payload().size() >= Wire::kUDPHeaderSize)
            m_bytes = ip.payload();
    }

    bool valid() const { return !m_bytes.isNull(); }
    ByteView datagram() const { return m_bytes; }

    quint16 sourcePort() const { return m_bytes.raw16(Wire::kUDPSourcePort); }
    bool setSourcePort(quint16 port) { return m_bytes.setRaw16(Wire::kUDPSourcePort, port); }
    quint16 destinationPort() const { return m_bytes.raw16(Wire::kUDPDestinationPort); }
    bool setDestinationPort(quint16 port)
    {
        return m_bytes.setRaw16(Wire::kUDPDestinationPort, port);
    }
    quint16 length() const { return m_bytes.be16(Wire::kUDPLength); }
    quint16 checksum() const { return m_bytes.be16(Wire::kUDPChecksum); }
    bool setChecksum(quint16 sum) { return m_bytes.setBe16(Wire::kUDPChecksum, sum); }

private:
    ByteView m_bytes;
};
