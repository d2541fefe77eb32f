// SPDX-License-Identifier: GPL-3.0-or-later
// Reassembler: the engine's IPv4 reassembly table, its purge rule and its reassembly buffer.
#pragma once

#include "engine/ipv4view.h"

#include <QHash>
#include <QByteArray>
#include <QMutex>
#include <QtGlobal>

#include <cstddef>
#include <map>
#include <vector>

class UpTime;

// How this works (RFC 791 section 3.2, "Reassembly"): fragments belong to one datagram when
// they share source address, destination address, protocol and identification; two hosts
// that happen to use the same identification are kept apart. Each datagram has one
// `ReassemblyEntry` holding its fragment payloads by offset.
//
// offer() rules, per fragment:
//   - an invalid header, or offset x 8 + payload beyond 65535, is dropped; the table is
//     left as it was;
//   - a fragment at an offset already held replaces the stored payload, and the entry's
//     received count is the sum of the distinct payloads it holds, so a duplicate counts
//     once; when that count would exceed 18000 bytes the entry is deleted and the fragment
//     dropped;
//   - the fragment without more-fragments fixes the expected size (its offset x 8 + payload);
//   - every accepted fragment sets the expiry to clock + 15 s;
//   - once the last fragment is known and received equals expected, the payloads must tile
//     [0, expected) exactly; they are joined behind the completing fragment's header, whose
//     flags-and-offset becomes 0, total length the packet's size, with a fresh checksum.
//     The entry is deleted. Payloads that overlap or leave a hole can never tile the
//     datagram: such an entry (received = expected but no tiling, or received > expected)
//     is deleted and the fragment dropped.
// Otherwise the fragment is held.
//
// The joined packet lies in the reassembler's own reassembly buffer, allocated once and
// reused; the view in the result stays valid until the next offer().
//
// Threads: offer() runs on the engine thread, purge() on the thread of the purge timer. A
// mutex inside serialises the two on the table; the reassembly buffer is touched by offer()
// only. Only fragments reach offer(), so whole packets never take the lock.
class Reassembler
{
public:
    enum class Outcome { Held, Dropped, Complete };
    struct Result {
        Outcome outcome = Outcome::Dropped;
        IPv4View packet; // valid for Complete only
    };

    static constexpr std::size_t kMaxPayload = 18000;
    static constexpr quint32 kLifetimeSeconds = 15;
    static constexpr int kDefaultPurgeIntervalMs = 15000;

    explicit Reassembler(const UpTime *clock);

    Result offer(const IPv4View &fragment);

    // Deletes every expired entry (expiry - clock <= 0) and returns the interval for the next
    // purge: smallest remaining seconds x 1000 when that lies in 1..15, else 15000 ms.
    int purge();

    // Datagrams being reassembled.
    int pendingCount() const;

private:
    struct Key {
        quint32 source = 0;
        quint32 destination = 0;
        quint16 identification = 0;
        quint8 protocol = 0;
        bool operator==(const Key &other) const
        {
            return source == other.source && destination == other.destination
                && identification == other.identification && protocol == other.protocol;
        }
        friend uint qHash(const Key &key, uint seed = 0)
        {
            const quint64 addresses = quint64(key.source) << 32 | key.destination;
            return qHash(addresses, seed) ^ qHash(uint(key.identification) << 8 | key.protocol);
        }
    };

    struct ReassemblyEntry {
        std::size_t received = 0; // distinct payload bytes held
        std::size_t expected = 0; // 0 until the last fragment is seen
        bool lastSeen = false;
        quint32 expiry = 0;                       // clock seconds
        std::map<quint16, QByteArray> fragments;  // offset in 8-byte units -> payload
    };
    using Table = QHash<Key, ReassemblyEntry>;

    Result complete(Table::iterator entry, const IPv4View &fragment);

    const UpTime *m_clock;
    mutable QMutex m_mutex;
    Table m_table;
    std::vector<quint8> m_buffer;
};
