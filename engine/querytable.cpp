// SPDX-License-Identifier: GPL-3.0-or-later
// QueryTable: the ICMP echo translation table of router mode.
#include "engine/querytable.h"

#include "app/uptime.h"

#include <QtEndian>

#include <algorithm>
#include <limits>

namespace {
constexpr int kIdentifierCount = 65535; // 1 to 65535
} // namespace

QueryTable::QueryTable(UpTime *clock)
    : m_clock(clock)
{
}

QueryTable::RemoteSlot QueryTable::slotOf(quint16 externalIdentifier, quint32 remoteAddress)
{
    return RemoteSlot{quint64(externalIdentifier) << 32 | remoteAddress};
}

quint32 QueryTable::now() const
{
    return m_clock ? m_clock->seconds() : 0;
}

std::optional<quint16> QueryTable::translateOutbound(quint32 privateAddress, quint32 remoteAddress,
                                                     quint16 identifier, quint32 length)
{
    QueryKey key;
    key.privateAddress = privateAddress;
    key.remoteAddress = remoteAddress;
    key.identifier = identifier;

    std::lock_guard<std::mutex> lock(m_mutex);
    const quint32 seconds = now();
    const auto found = m_entries.find(key);
    if (found != m_entries.end()) {
        QueryEntry &entry = found.value();
        entry.bytesOut += length;
        ++entry.packetsOut;
        entry.lastSeen = seconds;
        return entry.externalIdentifier;
    }
    if (remoteAddress == 0)
        return std::nullopt;
    const std::optional<quint16> chosen = chooseIdentifier(key);
    if (!chosen)
        return std::nullopt;
    QueryEntry entry;
    entry.externalIdentifier = *chosen;
    entry.lastSeen = seconds;
    entry.bytesOut = length;
    entry.packetsOut = 1;
    m_entries.insert(key, entry);
    m_byRemote[slotOf(*chosen, remoteAddress)].append(key);
    return chosen;
}

std::optional<quint16> QueryTable::chooseIdentifier(const QueryKey &key) const
{
    const int identifier = qFromBigEndian(key.identifier);
    const int base = identifier != 0 ? identifier - 1 : 0;
    for (int i = 0; i < kIdentifierCount; ++i) {
        const quint16 candidate = quint16((i + base) % kIdentifierCount + 1);
        if (!m_byRemote.contains(slotOf(candidate, key.remoteAddress)))
            return candidate;
    }
    return std::nullopt;
}

std::optional<QueryKey> QueryTable::translateInbound(quint16 externalIdentifier,
                                                     quint32 remoteAddress, quint32 length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto listed = m_byRemote.constFind(slotOf(externalIdentifier, remoteAddress));
    if (listed == m_byRemote.constEnd() || listed->isEmpty())
        return std::nullopt;
    const QueryKey key = listed->first();
    const auto found = m_entries.find(key);
    if (found == m_entries.end())
        return std::nullopt;
    QueryEntry &entry = found.value();
    entry.bytesIn += length;
    ++entry.packetsIn;
    entry.lastSeen = now();
    return key;
}

bool QueryTable::removeMapping(const QueryKey &key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_entries.find(key);
    if (found == m_entries.end())
        return false;
    unindex(key, found->externalIdentifier);
    m_entries.erase(found);
    return true;
}

void QueryTable::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
    m_byRemote.clear();
}

quint32 QueryTable::purge(quint32 idleSeconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const qint64 seconds = now();
    qint64 smallest = 0;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const qint64 remaining = qint64(idleSeconds) + it->lastSeen - seconds;
        if (remaining <= 0) {
            unindex(it.key(), it->externalIdentifier);
            it = m_entries.erase(it);
            continue;
        }
        if (smallest == 0 || remaining < smallest)
            smallest = remaining;
        ++it;
    }
    return quint32(std::min<qint64>(smallest, std::numeric_limits<quint32>::max()));
}

void QueryTable::unindex(const QueryKey &key, quint16 externalIdentifier)
{
    const auto listed = m_byRemote.find(slotOf(externalIdentifier, key.remoteAddress));
    if (listed == m_byRemote.end())
        return;
    for (int i = listed->size() - 1; i >= 0; --i) {
        if (listed->at(i) == key)
            listed->remove(i);
    }
    if (listed->isEmpty())
        m_byRemote.erase(listed);
}

std::optional<QueryEntry> QueryTable::entry(const QueryKey &key) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_entries.constFind(key);
    if (found == m_entries.constEnd())
        return std::nullopt;
    return found.value();
}

QHash<QueryKey, QueryEntry> QueryTable::mappings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QHash<QueryKey, QueryEntry> copy = m_entries;
    // A shared copy would make the next translation detach (copy) the whole table.
    copy.detach();
    return copy;
}

int QueryTable::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

bool QueryTable::isConsistent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int indexed = 0;
    for (auto it = m_byRemote.constBegin(); it != m_byRemote.constEnd(); ++it) {
        for (const QueryKey &key : it.value()) {
            const auto found = m_entries.constFind(key);
            if (found == m_entries.constEnd()
                || !(slotOf(found->externalIdentifier, key.remoteAddress) == it.key()))
                return false;
            ++indexed;
        }
    }
    return indexed == m_entries.size();
}
