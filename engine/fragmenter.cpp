// SPDX-License-Identifier: GPL-3.0-or-later
// Fragmenter: cuts an IPv4 packet into fragments that fit an adapter's MTU, one frame at a time.
#include "engine/fragmenter.h"

#include "engine/checksum.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kMaxDatagramEnd = 0xFFFF;

ByteView frameNetworkBytes(PacketBuffer &buffer, std::size_t size)
{
    return ByteView(buffer.frame, kMaxFrameSize).slice(Wire::kEthernetHeaderSize, size);
}

} // namespace

Fragmenter::Fragmenter(const IPv4View &packet, std::size_t mtu)
{
    if (!packet.valid() || packet.headerLength() > kMaxHeaderSize)
        return;
    m_source = packet.packet();
    const std::size_t total = packet.totalLength();
    const std::size_t limit = std::min(mtu, Wire::kIPv4MaxPacketSize);
    if (total <= limit) {
        m_whole = true;
        m_count = 1;
        return;
    }
    m_headerLength = packet.headerLength();
    m_payloadLength = total - m_headerLength;
    m_originalOffset = packet.fragmentOffset();
    m_originalMoreFragments = packet.moreFragments();
    if (limit < m_headerLength + Wire::kIPv4OffsetUnit
        || m_originalOffset * Wire::kIPv4OffsetUnit + m_payloadLength > kMaxDatagramEnd)
        return;
    std::memcpy(m_header.data(), m_source.data(), m_headerLength);
    m_piecePayload = (limit - m_headerLength) / Wire::kIPv4OffsetUnit * Wire::kIPv4OffsetUnit;
    m_count = (m_payloadLength + m_piecePayload - 1) / m_piecePayload;
}

bool Fragmenter::next(PacketBuffer &buffer)
{
    if (m_index >= m_count)
        return false;
    const bool written = m_whole ? writeWhole(buffer) : writePiece(buffer);
    ++m_index;
    return written;
}

bool Fragmenter::writeWhole(PacketBuffer &buffer)
{
    ByteView target = frameNetworkBytes(buffer, m_source.size());
    if (target.isNull())
        return false;
    std::memmove(target.data(), m_source.data(), m_source.size());
    buffer.length = quint32(Wire::kEthernetHeaderSize + m_source.size());
    return true;
}

bool Fragmenter::writePiece(PacketBuffer &buffer)
{
    const std::size_t start = m_index * m_piecePayload;
    const std::size_t length = std::min(m_piecePayload, m_payloadLength - start);
    const bool last = m_index + 1 == m_count;
    const std::size_t total = m_headerLength + length;
    ByteView target = frameNetworkBytes(buffer, total);
    if (target.isNull())
        return false;
    // Payload first: in the shared-frame case the header bytes in front of it are already
    // saved in m_header, and the source bytes of this piece lie at or behind its target.
    std::memmove(target.data() + m_headerLength, m_source.data() + m_headerLength + start,
                 length);
    std::memcpy(target.data(), m_header.data(), m_headerLength);
    target.setBe16(Wire::kIPv4TotalLength, quint16(total));

    IPv4View piece(target);
    quint16 flags = quint16(m_originalOffset + start / Wire::kIPv4OffsetUnit);
    if (!last || m_originalMoreFragments)
        flags |= Wire::kIPv4MoreFragments;
    piece.setFlagsAndOffset(flags);
    if (!Checksum::fillIPv4Header(piece))
        return false;
    buffer.length = quint32(Wire::kEthernetHeaderSize + total);
    return true;
}
