// SPDX-License-Identifier: GPL-3.0-or-later
// QueryTable: the ICMP echo translation table of router mode.
#pragma once

#include "engine/flatmap.h"
#include "engine/portkey.h"
#include "engine/remoteindex.h"

#include <QHash>
#include <QtGlobal>

#include <mutex>
#include <optional>

class UpTime;

// How this works
//
// An echo request (RFC 792) from a private host to a remote host leaves with an external
// identifier in 1-65535; the echo reply comes back with it and is matched by that
// identifier and the replying host's address. Several private flows may share one external
// identifier while they ping different remote hosts. The client's own identifier is tried
// first (identifier 0 starts at 1) and the search wraps from 65535 to 1. Only
// translateOutbound() creates mappings; NATService drops them after 60 idle seconds.
//
// Every operation holds the table's mutex for its whole duration. Look-ups of existing
// mappings allocate nothing: the mappings live in a FlatMap (a dense array with an
// open-addressed index on the whole key), and the reverse index on (external identifier,
// remote address) is a RemoteIndex pointing straight at the mapping's position, so either
// direction reads one index slot and the mapping. The identifier choice keeps each reverse
// slot to one mapping.
class QueryTable
{
public:
    explicit QueryTable(UpTime *clock);
    QueryTable(const QueryTable &) = delete;
    QueryTable &operator=(const QueryTable &) = delete;

    // An echo request (addresses and identifier in network order, `length` the frame
    // length). Returns the external identifier in host order, or nothing when every
    // identifier already serves this remote host (or the remote address is 0).
    std::optional<quint16> translateOutbound(quint32 privateAddress, quint32 remoteAddress,
                                             quint16 identifier, quint32 length);
    // An echo reply or an error quoting a request: identifier in host order, remote address
    // in network order. Returns the flow's key, or nothing.
    std::optional<QueryKey> translateInbound(quint16 externalIdentifier, quint32 remoteAddress,
                                             quint32 length);
    bool removeMapping(const QueryKey &key);
    void clear();

    // Drops, in one pass under the mutex, every mapping with last seen + idleSeconds <= now.
    // Returns the smallest remaining time of the mappings kept, or 0 when none is left.
    quint32 purge(quint32 idleSeconds);

    std::optional<QueryEntry> entry(const QueryKey &key) const;
    QHash<QueryKey, QueryEntry> mappings() const;
    int size() const;
    bool isConsistent() const;

private:
    using Mappings = FlatMap<QueryKey, QueryEntry>;

    // (external identifier, remote address) packed into one word.
    static quint64 remoteSlot(quint16 externalIdentifier, quint32 remoteAddress);
    static quint64 remoteSlotOf(const Mappings::Item &item);
    quint64 slotAt(quint32 position) const;
    int findRemote(quint64 slot) const;

    quint32 now() const;
    std::optional<quint16> chooseIdentifier(const QueryKey &key) const;
    void removeAt(int position);

    UpTime *m_clock;
    Mappings m_entries;
    RemoteIndex m_byRemote;
    mutable std::mutex m_mutex;
};
