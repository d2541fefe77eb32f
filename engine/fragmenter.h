// SPDX-License-Identifier: GPL-3.0-or-later
// Fragmenter: cuts an IPv4 packet into fragments that fit an adapter's MTU, one frame at a time.
#pragma once

#include "engine/ipv4view.h"
#include "engine/packetbuffer.h"
#include "engine/wire.h"

#include <array>
#include <cstddef>

// How this works (RFC 791 section 3.2, "Fragmentation"): a packet whose total length is not
// above the MTU leaves whole and unchanged. A larger one is cut into N = ceil(P / F) pieces,
// P being its payload and F = ((MTU - H) / 8) * 8 the payload per piece (H the header length,
// options included). Piece i carries a copy of the full header with the same identification,
// the payload bytes [i*F, i*F + F) (the remainder for the last), total length H + its
// payload, a fresh header checksum and a flags-and-offset word of
//   original offset + i*F/8, more-fragments on every piece but the last;
// the last keeps the more-fragments bit the packet had, so a fragment that is cut again
// still reassembles into the original datagram. Don't-fragment is always cleared.
//
// `next()` writes one piece at a time into the frame of a caller's PacketBuffer (behind the
// 14-byte Ethernet header, which it leaves alone) and sets the frame length; nothing is
// allocated. The source packet may lie in that same frame (at the same place): the header is
// copied when the fragmenter is built and payload bytes only ever move towards the front, so
// a piece never overwrites bytes a later piece still needs.
//
// The MTU is capped at the 1500 bytes a frame buffer holds. A packet that cannot be cut (an
// invalid view, or an MTU that leaves less than 8 payload bytes behind the header) yields no
// piece at all: it is dropped, never looped over.
class Fragmenter
{
public:
    Fragmenter(const IPv4View &packet, std::size_t mtu);

    // Number of frames the packet leaves as: 1 when it goes whole, 0 when it is dropped.
    std::size_t count() const { return m_count; }
    bool dropped() const { return m_count == 0; }

    // Writes the next piece into `buffer` (frame offset 14, length = total + 14).
    // False once every piece has been written.
    bool next(PacketBuffer &buffer);

private:
    bool writeWhole(PacketBuffer &buffer);
    bool writePiece(PacketBuffer &buffer);

    static constexpr std::size_t kMaxHeaderSize = 0x0F * 4; // four-bit header length field

    ByteView m_source;
    std::array<quint8, kMaxHeaderSize> m_header{};
    std::size_t m_headerLength = 0;
    std::size_t m_payloadLength = 0;
    std::size_t m_piecePayload = 0; // F
    quint16 m_originalOffset = 0;   // in 8-byte units
    bool m_originalMoreFragments = false;
    bool m_whole = false;
    std::size_t m_count = 0;
    std::size_t m_index = 0;
};
