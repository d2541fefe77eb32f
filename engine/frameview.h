// SPDX-License-Identifier: GPL-3.0-or-later
// FrameView: an Ethernet II frame held in a PacketBuffer or any other frame buffer.
#pragma once

#include "engine/arpview.h"
#include "engine/byteview.h"
#include "engine/ipv4view.h"
#include "engine/packetbuffer.h"
#include "engine/wire.h"

// How this works: the view covers the frame's valid bytes only, i.e. the length word of the
// record, never the whole 1514-byte buffer. A frame is valid when it holds at least the
// 14-byte Ethernet header and its length is not above 1514 (a larger length word is a lying
// record: the buffer cannot hold it). `arp()` and `ipv4()` parse the packet behind the
// header only for their EtherType (0x0806, 0x0800); every other type (IPv6, VLAN tags, ...)
// is never parsed and both return invalid views.
class FrameView
{
public:
    FrameView() = default;
    explicit FrameView(PacketBuffer &buffer)
        : FrameView(ByteView(buffer.frame, buffer.length))
    {
    }
    explicit FrameView(ByteView bytes)
    {
        if (bytes.size() >= Wire::kEthernetHeaderSize && bytes.size() <= kMaxFrameSize)
            m_bytes = bytes;
    }

    bool valid() const { return !m_bytes.isNull(); }
    std::size_t length() const { return m_bytes.size(); }
    ByteView bytes() const { return m_bytes; }

    Wire::MacAddress destinationMac() const { return m_bytes.mac(Wire::kEthernetDestination); }
    bool setDestinationMac(const Wire::MacAddress &mac)
    {
        return m_bytes.setMac(Wire::kEthernetDestination, mac);
    }
    Wire::MacAddress sourceMac() const { return m_bytes.mac(Wire::kEthernetSource); }
    bool setSourceMac(const Wire::MacAddress &mac)
    {
        return m_bytes.setMac(Wire::kEthernetSource, mac);
    }
    // Broadcast or multicast destination.
    bool isGroupDestination() const
    {
        return m_bytes.u8(Wire::kEthernetDestination) & Wire::kMacGroupBit;
    }
    quint16 etherType() const { return m_bytes.be16(Wire::kEthernetType); }

    ARPView arp() const
    {
        return valid() && etherType() == Wire::kEtherTypeARP ? ARPView(network()) : ARPView();
    }
    IPv4View ipv4() const
    {
        return valid() && etherType() == Wire::kEtherTypeIPv4 ? IPv4View(network())
                                                               : IPv4View();
    }

private:
    ByteView network() const { return m_bytes.from(Wire::kEthernetHeaderSize); }

    ByteView m_bytes;
};
