// SPDX-License-Identifier: GPL-3.0-or-later
// Keys and entries of the address translation tables (TCP/UDP ports, ICMP echo identifiers).
#pragma once

#include <QtGlobal>

// Addresses and ports inside keys are raw network-order values, exactly as they stand in the
// frames; the external port or identifier inside an entry is in host order.

// One private endpoint talking to one remote endpoint (a dynamic mapping), or a private
// endpoint reachable through a fixed external port (a static mapping, where remote address
// and remote port 0 mean "any"). Sixteen bytes; bytes 6-7 are padding and never compared.
struct PortKey {
    quint32 privateAddress = 0; // bytes 0-3
    quint16 privatePort = 0;    // bytes 4-5
    quint16 unused = 0;         // bytes 6-7, ignored by == and qHash
    quint32 remoteAddress = 0;  // bytes 8-11; 0 = any remote, in a static mapping
    quint16 remotePort = 0;     // bytes 12-13; 0 = any remote port, in a static mapping
    quint16 staticPort = 0;     // bytes 14-15: the external port of a static mapping, else 0
};
static_assert(sizeof(PortKey) == 16, "PortKey is sixteen bytes");

inline bool operator==(const PortKey &a, const PortKey &b) noexcept
{
    return a.privateAddress == b.privateAddress && a.privatePort == b.privatePort
        && a.remoteAddress == b.remoteAddress && a.remotePort == b.remotePort
        && a.staticPort == b.staticPort;
}

inline bool operator!=(const PortKey &a, const PortKey &b) noexcept
{
    return !(a == b);
}

// The connection states of a port mapping; UDP uses Static, Established, Reset and
// Unanswered only. The transitions are described in porttable.h.
namespace PortState {
constexpr quint8 Static = 1;
constexpr quint8 SynOut = 2;       // outbound SYN seen
constexpr quint8 SynIn = 3;        // inbound SYN seen
constexpr quint8 Established = 4;  // TCP established, or UDP answered
constexpr quint8 FinOut = 5;       // the client closed first
constexpr quint8 FinOutAcked = 6;  // ... and the remote acknowledged that FIN
constexpr quint8 FinIn = 7;        // the remote closed first
constexpr quint8 FinOutFinIn = 8;  // FIN out, then FIN in
constexpr quint8 FinInFinOut = 9;  // FIN in, then FIN out
constexpr quint8 Closed = 10;      // both sides closed
constexpr quint8 Reset = 11;       // reset, or an ICMP error about the flow
constexpr quint8 Unanswered = 12;  // UDP (or a flagless TCP segment) not answered yet
} // namespace PortState

// Who created a mapping.
namespace MappingOrigin {
constexpr quint8 Inbound = 1;  // a static mapping, or a mapping derived from one
constexpr quint8 Outbound = 2; // created by a client's outbound packet
} // namespace MappingOrigin

struct PortEntry {
    quint16 externalPort = 0; // host order
    quint8 state = 0;         // PortState
    quint8 origin = 0;        // MappingOrigin
    quint32 lastSeen = 0;     // UpTime seconds of the last packet or refresh
    quint32 bytesOut = 0;     // frame lengths, client to Internet
    quint32 bytesIn = 0;
    quint32 packetsOut = 0;
    quint32 packetsIn = 0;
};

// One ICMP echo flow: a private host pinging a remote host with one identifier.
struct QueryKey {
    quint32 privateAddress = 0;
    quint32 remoteAddress = 0;
    quint16 identifier = 0; // the echo identifier as the client sent it
    quint16 unused = 0;     // ignored by == and qHash
};
static_assert(sizeof(QueryKey) == 12, "QueryKey is twelve bytes");

inline bool operator==(const QueryKey &a, const QueryKey &b) noexcept
{
    return a.privateAddress == b.privateAddress && a.remoteAddress == b.remoteAddress
        && a.identifier == b.identifier;
}

inline bool operator!=(const QueryKey &a, const QueryKey &b) noexcept
{
    return !(a == b);
}

struct QueryEntry {
    quint16 externalIdentifier = 0; // host order
    quint32 lastSeen = 0;
    quint32 bytesOut = 0;
    quint32 bytesIn = 0;
    quint32 packetsOut = 0;
    quint32 packetsIn = 0;
};

namespace NatHash {
// The 64-bit finaliser of MurmurHash3: every input bit reaches every output bit, so keys
// that differ only in a port or in the low byte of an address spread over all buckets.
constexpr quint64 mix(quint64 value) noexcept
{
    value ^= value >> 33;
    value *= 0xff51afd7ed558ccdULL;
    value ^= value >> 33;
    value *= 0xc4ceb9fe1a85ec53ULL;
    value ^= value >> 33;
    return value;
}

constexpr uint fold(quint64 value) noexcept
{
    return uint(value ^ (value >> 32));
}
} // namespace NatHash

inline uint qHash(const PortKey &key, uint seed = 0) noexcept
{
    const quint64 privateEnd = quint64(key.privateAddress) << 32
        | quint64(key.privatePort) << 16 | key.staticPort;
    const quint64 remoteEnd = quint64(key.remoteAddress) << 16 | key.remotePort;
    return NatHash::fold(NatHash::mix(NatHash::mix(privateEnd ^ seed) ^ remoteEnd));
}

inline uint qHash(const QueryKey &key, uint seed = 0) noexcept
{
    const quint64 addresses = quint64(key.privateAddress) << 32 | key.remoteAddress;
    return NatHash::fold(NatHash::mix(NatHash::mix(addresses ^ seed) ^ key.identifier));
}
