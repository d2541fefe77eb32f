// SPDX-License-Identifier: GPL-3.0-or-later
// PortTable: the TCP or UDP translation table of router mode, with its state machine.
#pragma once

#include "engine/flatmap.h"
#include "engine/portkey.h"
#include "engine/remoteindex.h"

#include <QHash>
#include <QVarLengthArray>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <mutex>
#include <optional>

class UpTime;

// How this works
//
// A client endpoint (private address and port) talking to a remote endpoint leaves through
// an external port of the host's Internet-side address. Several private endpoints may share
// one external port as long as they talk to different remote endpoints (the remote end
// tells their replies apart); this is endpoint-dependent mapping in the sense of RFC 4787
// section 4.1. External ports chosen here lie in 10000-65535. A client port of 10000 or
// above is tried as itself first, a lower one starts at 10000; the search wraps from 65535
// to 10000 and fails only when all 55536 ports already serve the same remote endpoint.
//
// Mappings are created only by
//   - translateOutbound() for a packet whose TCP flags are 0 or a bare SYN (0x02); any
//     other segment, and an ICMP error (flags 4), never creates one;
//   - translateInbound() from a static mapping whose remote address and port are each 0
//     ("any") or the packet's, for flags 0 or a bare SYN; the new dynamic mapping names the
//     packet's remote endpoint, shares the static mapping's external port and origin;
//   - addStaticMapping().
// A packet from or to remote address 0 or remote port 0 never creates a dynamic mapping:
// such a key would itself act as a wildcard and let any remote in.
//
// State machine. `flags` is the exact TCP flags byte (FIN 0x01, SYN 0x02, RST 0x04,
// ACK 0x10); UDP passes 0 and an ICMP error about the flow passes 4. A new mapping starts in
// SynOut (2) / SynIn (3) for a SYN, else in Unanswered (12). Afterwards the first matching
// row applies:
//
//   outbound (client to Internet)          inbound (Internet to client)
//   RST set                    -> 11       RST set                         -> 11
//   flags == SYN               -> 2        flags == SYN                    -> 3
//   flags == ACK, state 2      -> 4        state 3, flags == ACK           -> 4
//   FIN set, state 3 or 4      -> 5        state 4, FIN set                -> 7
//   FIN set, state 7           -> 9        state 5, flags == ACK           -> 6
//   origin Inbound, state 12   -> 4        state 5, flags == FIN|ACK       -> 10
//   otherwise unchanged                    state 5, flags == FIN           -> 8
//                                          state 6, FIN set                -> 10
//                                          state 8, flags == ACK           -> 10
//                                          state 9, flags == ACK           -> 11
//                                          origin Outbound, state 12       -> 4
//                                          otherwise unchanged
//
// So a UDP mapping becomes Established (4) with the first packet that travels opposite to
// the one that created it. The idle time-out of each state is NATService's business; the
// table only stamps every hit with the clock's seconds.
//
// Every operation holds the table's mutex for its whole duration and calls out only to
// the clock. Look-ups of existing mappings allocate nothing. The mappings live in a FlatMap
// (one dense array of key and entry, with an open-addressed index on the whole key), and
// the reverse index is a RemoteIndex on (external port, remote address, remote port) that
// points straight at the mapping's position in that array: an outbound hit reads an index
// slot and the mapping, an inbound hit the same, however many mappings there are or share
// the port. Both hashes are seeded per table, so remote endpoints chosen from outside
// cannot pile their mappings into one probe run. Static mappings that share an external
// port and remote address (remote port 0) share one reverse slot; it names the one added
// first, and the wildcard list (the keys with remote address or port 0 under each port, in
// the order added) names the next one when the first is removed. Only creating a mapping
// allocates; removing one may shrink the arrays.
class PortTable
{
public:
    explicit PortTable(UpTime *clock);
    PortTable(const PortTable &) = delete;
    PortTable &operator=(const PortTable &) = delete;

    // A client packet (addresses and ports in network order, `length` the frame length).
    // Returns the external port in host order, or nothing when there is no mapping and
    // none may be created.
    std::optional<quint16> translateOutbound(quint32 privateAddress, quint16 privatePort,
                                             quint32 remoteAddress, quint16 remotePort,
                                             quint32 length, quint8 flags);
    // A packet from the Internet to `externalPort` (host order) from the remote endpoint
    // (network order). Returns the dynamic or static key that it belongs to (its private
    // address and port tell where it goes), or nothing.
    std::optional<PortKey> translateInbound(quint16 externalPort, quint32 remoteAddress,
                                            quint16 remotePort, quint32 length, quint8 flags);
    // All four values in host order; remoteAddress 0 admits any remote host. Nothing
    // changes when that static mapping exists already. Refused (false) for external port 0,
    // private port 0 or private address 0; true otherwise.
    bool addStaticMapping(quint32 privateAddress, quint16 privatePort, quint32 remoteAddress,
                          quint16 externalPort);
    // Names two remote endpoints (network order) that are one on the wire: the router sends
    // what a client addresses to the alias to the other endpoint (the DNS redirect). An
    // external port is then only chosen for either when it serves neither, so that the
    // answers of the two can always be told apart. Address 0 clears the pairing.
    void setRemoteAlias(quint32 aliasAddress, quint16 aliasPort, quint32 address, quint16 port);
    // Drops the key's mapping with its index entries; false when it had none.
    bool removeMapping(const PortKey &key);
    void clear();

    // Drops, in one pass under the mutex, every mapping whose idle time is over:
    // idleSeconds(key, entry) + last seen <= now. Returns the smallest remaining time in
    // seconds of the mappings kept, or 0 when none is left.
    quint32 purge(const std::function<quint32(const PortKey &, const PortEntry &)> &idleSeconds);

    // Copies for the owner, tests and the user interface; never shared with the table.
    std::optional<PortEntry> entry(const PortKey &key) const;
    QHash<PortKey, PortEntry> mappings() const;
    // The keys mapped to the external port (a scan of all mappings, for checks and tests).
    QVector<PortKey> keysForPort(quint16 externalPort) const;
    int size() const;
    // True when the indexes agree with the mappings: each mapping is found under its whole
    // key and through its reverse slot (itself, or the static mapping added first to that
    // slot), each index entry names a mapping, and the wildcard lists hold exactly the
    // mappings with remote address or port 0.
    bool isConsistent() const;

private:
    using KeyList = QVarLengthArray<PortKey, 1>;
    using Mappings = FlatMap<PortKey, PortEntry>;

    // (external port, remote address, remote port) packed into one word.
    static quint64 remoteSlot(quint16 externalPort, quint32 remoteAddress, quint16 remotePort);
    static quint64 remoteSlotOf(const Mappings::Item &item);
    quint64 slotAt(quint32 position) const;
    // The position of the mapping named by the reverse slot, or -1.
    int findRemote(quint64 slot) const;

    quint32 now() const;
    std::optional<quint16> choosePort(const PortKey &key) const;
    bool portServes(quint16 port, quint32 remoteAddress, quint16 remotePort) const;
    std::optional<PortKey> deriveFromWildcard(quint16 externalPort, quint32 remoteAddress,
                                              quint16 remotePort, quint32 length, quint8 flags);
    void insertMapping(const PortKey &key, const PortEntry &entry);
    void removeAt(int position);
    void indexNextSharing(quint16 externalPort, quint64 slot);
    bool wildcardsConsistent() const;

    UpTime *m_clock;
    Mappings m_entries;
    // The position of the first mapping added under each (external port, remote endpoint).
    RemoteIndex m_byRemote;
    // The keys under each external port whose remote address or port is 0, in order.
    QHash<quint16, KeyList> m_wildcards;
    // The two remote endpoints of setRemoteAlias(), or zeros.
    quint32 m_aliasAddress = 0;
    quint16 m_aliasPort = 0;
    quint32 m_aliasedAddress = 0;
    quint16 m_aliasedPort = 0;
    mutable std::mutex m_mutex;
};
