// SPDX-License-Identifier: GPL-3.0-or-later
// Checksum: the Internet checksums of IPv4 headers, ICMP, TCP, UDP and quoted headers.
#pragma once

#include "engine/byteview.h"
#include "engine/ipv4view.h"
#include "engine/quotedheaderview.h"

#include <optional>

// How this works (RFC 1071): the covered bytes are summed as big-endian 16-bit words in
// one's-complement arithmetic, an odd last byte counting as the high half of a zero-padded
// word; the folded sum is complemented. Each `compute...` sums its header with its own
// checksum field counted as zero (the field is skipped, never written), so one routine serves
// both ways: `verify...` compares the computed value with the stored one, `fill...` stores
// it. Coverage:
//   IPv4 header   the header length (IHL x 4) from the header start
//   ICMP          the IP payload (total length minus header length)
//   TCP, UDP      pseudo-header (source, destination, protocol, that same payload length)
//                 plus the IP payload
//   quoted header the quoted IP header's own length
// UDP (RFC 768): a computed 0 is sent as 0xFFFF, and a stored 0 means the sender computed
// none: such a datagram passes `verifyUDP` unchecked and `fillUDP` leaves it at 0.
// A view that is invalid, or an IP packet that does not carry a valid header of the
// protocol asked for, yields no value: `compute...` returns nullopt, `verify...` and
// `fill...` return false and write nothing. After changing a packet the engine fills the
// transport checksum first (its pseudo-header reads the final addresses and length) and the
// IP header checksum last.
namespace Checksum {

// The RFC 1071 checksum of the bytes as a host-order value (empty bytes give 0xFFFF).
quint16 compute(ByteView bytes);

std::optional<quint16> computeIPv4Header(const IPv4View &ip);
bool verifyIPv4Header(const IPv4View &ip);
bool fillIPv4Header(IPv4View &ip);

std::optional<quint16> computeICMP(const IPv4View &ip);
bool verifyICMP(const IPv4View &ip);
bool fillICMP(IPv4View &ip);

std::optional<quint16> computeTCP(const IPv4View &ip);
bool verifyTCP(const IPv4View &ip);
bool fillTCP(IPv4View &ip);

// The value a UDP datagram must carry (never 0), whatever it carries now.
std::optional<quint16> computeUDP(const IPv4View &ip);
bool verifyUDP(const IPv4View &ip);
bool fillUDP(IPv4View &ip);

std::optional<quint16> computeQuotedHeader(const QuotedHeaderView &quote);
bool verifyQuotedHeader(const QuotedHeaderView &quote);
bool fillQuotedHeader(QuotedHeaderView &quote);

} // namespace Checksum
