// SPDX-License-Identifier: GPL-3.0-or-later
// TimeExceeded: the ICMP time-exceeded message a router sends for a packet whose TTL ran out.
#pragma once

#include "engine/ipv4view.h"
#include "engine/packetbuffer.h"
#include "engine/wire.h"

// How this works (RFC 792, "Time Exceeded Message"; RFC 1812 section 4.3.2.3): the message
// quotes the offending packet's IP header, options included, and the first bytes of its
// payload, at most 64 of them. It is carried in a fresh IPv4 header (0x45, type of service
// 0, identification 0, no fragment flags, TTL 64, protocol 1) from the router's own address
// to the offending packet's source, with ICMP type 11, code 0 (TTL exceeded in transit) and
// four zero bytes before the quote. The Ethernet header is turned round: the frame goes back
// to the MAC it came from, from the router's own MAC.
//
// The message is written into the frame buffer the offending packet arrived in. That packet
// may lie in the same buffer (at frame offset 14) or elsewhere (a reassembled datagram): the
// quote is moved first, so both work. At most 60 + 64 bytes are quoted, so the message
// always fits one frame.
class TimeExceeded
{
public:
    static constexpr std::size_t kMaxQuotedPayload = 64;
    static constexpr quint8 kTimeToLive = 64;
    static constexpr quint8 kCodeInTransit = 0;

    // False for a packet that must not be answered with an ICMP error: an ICMP error
    // message itself (RFC 1122 section 3.2.2: destination unreachable, source quench,
    // redirect, time exceeded, parameter problem) or a fragment other than the first
    // (RFC 1812 section 4.3.2.7). Such a packet is dropped without a word.
    static bool mayAnswer(const IPv4View &offending);

    // Writes the message about `offending` into `buffer` (frame and length) and returns its
    // IP packet; an invalid view if `offending` is not a valid packet (nothing is written).
    static IPv4View write(PacketBuffer &buffer, const IPv4View &offending, quint32 ownAddress,
                          const Wire::MacAddress &ownMac);
};
