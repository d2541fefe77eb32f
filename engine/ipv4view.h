// SPDX-License-Identifier: GPL-3.0-or-later
// IPv4View: the IPv4 header and payload of a packet, with its lengths validated.
#pragma once

#include "engine/byteview.h"
#include "engine/wire.h"

// How this works: the view is built over the bytes from the header start to the end of what
// the frame (or a reassembly buffer) really holds. It is valid only when
//   - at least 20 bytes are there and the version is 4 (RFC 791 section 3.1),
//   - the header length (IHL x 4) is at least 20 and lies inside those bytes,
//   - the total length is at least the header length and lies inside those bytes.
// Anything else is a packet shorter than it claims and the engine drops it. The view then
// covers exactly `totalLength()` bytes: Ethernet padding behind the packet is never part of
// the payload or of a checksum. Addresses are raw network-order values; lengths, the
// identification and the flags-and-offset word are host-order numbers.
class IPv4View
{
public:
    IPv4View() = default;
    explicit IPv4View(ByteView bytes)
    {
        if (bytes.size() < Wire::kIPv4MinHeaderSize)
            return;
        const quint8 versionAndLength = bytes.u8(Wire::kIPv4VersionAndLength);
        const std::size_t headerLength = std::size_t(versionAndLength & 0x0F) * 4;
        const std::size_t totalLength = bytes.be16(Wire::kIPv4TotalLength);
        if (versionAndLength >> 4 != Wire::kIPv4Version
            || headerLength < Wire::kIPv4MinHeaderSize || headerLength > bytes.size()
            || totalLength < headerLength || totalLength > bytes.size())
            return;
        m_bytes = bytes;
        m_headerLength = headerLength;
        m_totalLength = totalLength;
    }

    bool valid() const { return !m_bytes.isNull(); }

    std::size_t headerLength() const { return m_headerLength; }
    std::size_t totalLength() const { return m_totalLength; }
    // Bytes the view may grow into (the rest of the frame buffer behind the header).
    std::size_t capacity() const { return m_bytes.size(); }
    // Rewrites the total length; refused (false) below the header length or beyond capacity.
    bool setTotalLength(std::size_t length)
    {
        if (!valid() || length < m_headerLength || length > m_bytes.size()
            || length > 0xFFFF)
            return false;
        m_bytes.setBe16(Wire::kIPv4TotalLength, quint16(length));
        m_totalLength = length;
        return true;
    }

    quint8 typeOfService() const { return m_bytes.u8(Wire::kIPv4TypeOfService); }
    bool setTypeOfService(quint8 tos) { return m_bytes.setU8(Wire::kIPv4TypeOfService, tos); }
    quint16 identification() const { return m_bytes.be16(Wire::kIPv4Identification); }
    bool setIdentification(quint16 id) { return m_bytes.setBe16(Wire::kIPv4Identification, id); }

    quint16 flagsAndOffset() const { return m_bytes.be16(Wire::kIPv4FlagsAndOffset); }
    bool setFlagsAndOffset(quint16 value)
    {
        return m_bytes.setBe16(Wire::kIPv4FlagsAndOffset, value);
    }
    bool dontFragment() const { return flagsAndOffset() & Wire::kIPv4DontFragment; }
    bool moreFragments() const { return flagsAndOffset() & Wire::kIPv4MoreFragments; }
    // Fragment offset in units of 8 bytes.
    quint16 fragmentOffset() const { return flagsAndOffset() & Wire::kIPv4OffsetMask; }
    // A fragment: the flags-and-offset word is neither 0 nor exactly don't-fragment.
    bool isFragment() const
    {
        const quint16 value = flagsAndOffset();
        return valid() && value != 0 && value != Wire::kIPv4DontFragment;
    }

    quint8 timeToLive() const { return m_bytes.u8(Wire::kIPv4TimeToLive); }
    bool setTimeToLive(quint8 ttl) { return m_bytes.setU8(Wire::kIPv4TimeToLive, ttl); }
    quint8 protocol() const { return m_bytes.u8(Wire::kIPv4Protocol); }
    bool setProtocol(quint8 protocol) { return m_bytes.setU8(Wire::kIPv4Protocol, protocol); }
    quint16 headerChecksum() const { return m_bytes.be16(Wire::kIPv4Checksum); }
    bool setHeaderChecksum(quint16 sum) { return m_bytes.setBe16(Wire::kIPv4Checksum, sum); }

    quint32 source() const { return m_bytes.raw32(Wire::kIPv4Source); }
    bool setSource(quint32 address) { return m_bytes.setRaw32(Wire::kIPv4Source, address); }
    quint32 destination() const { return m_bytes.raw32(Wire::kIPv4Destination); }
    bool setDestination(quint32 address)
    {
        return m_bytes.setRaw32(Wire::kIPv4Destination, address);
    }

    // The header (options included), the payload behind it, and the whole packet.
    ByteView header() const { return m_bytes.slice(0, m_headerLength); }
    ByteView payload() const
    {
        return valid() ? m_bytes.slice(m_headerLength, m_totalLength - m_headerLength)
                       : ByteView();
    }
    ByteView packet() const { return m_bytes.slice(0, m_totalLength); }

private:
    ByteView m_bytes;
    std::size_t m_headerLength = 0;
    std::size_t m_totalLength = 0;
};
