// SPDX-License-Identifier: GPL-3.0-or-later
// ICMPView: the header of a complete ICMP message carried in IPv4 (RFC 792).
#pragma once

#include "engine/byteview.h"
#include "engine/ipv4view.h"
#include "engine/wire.h"

// Valid for an unfragmented IPv4 packet of protocol 1 whose payload holds the 8-byte ICMP
// header. The message is the whole IP payload (total length minus header length), which is
// what the ICMP checksum covers. The echo identifier (types 0 and 8) is a raw network-order
// value. Errors (types 3 and 11) quote the offending packet: see QuotedHeaderView.
class ICMPView
{
public:
    ICMPView() = default;
    explicit ICMPView(const IPv4View &ip)
    {
        if (ip.valid() && ip.protocol() == Wire::kProtocolICMP && !ip.isFragment()
            && ip.payload().size() >= Wire::kICMPHeaderSize)
            m_bytes = ip.payload();
    }

    bool valid() const { return !m_bytes.isNull(); }
    ByteView message() const { return m_bytes; }

    quint8 type() const { return m_bytes.u8(Wire::kICMPType); }
    quint8 code() const { return m_bytes.u8(Wire::kICMPCode); }
    bool isEcho() const
    {
        return valid() && (type() == Wire::kICMPEchoRequest || type() == Wire::kICMPEchoReply);
    }
    // Destination unreachable or time exceeded: the two errors the engine translates.
    bool isError() const
    {
        return valid()
            && (type() == Wire::kICMPDestinationUnreachable
                || type() == Wire::kICMPTimeExceeded);
    }
    quint16 checksum() const { return m_bytes.be16(Wire::kICMPChecksum); }
    bool setChecksum(quint16 sum) { return m_bytes.setBe16(Wire::kICMPChecksum, sum); }
    quint16 identifier() const { return m_bytes.raw16(Wire::kICMPIdentifier); }
    bool setIdentifier(quint16 id) { return m_bytes.setRaw16(Wire::kICMPIdentifier, id); }
    quint16 sequence() const { return m_bytes.raw16(Wire::kICMPSequence); }

private:
    ByteView m_bytes;
};
