// SPDX-License-Identifier: GPL-3.0-or-later
// QueryTable: the ICMP echo translation table of router mode.
#include "engine/querytable.h"

#include "app/uptime.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <algorithm>
#include <limits>

namespace {
constexpr int kIdentifierCount = 65535; // 1 to 65535

quint64 randomSeed()
{
    return QRandomGenerator::system()->generate64();
}
} // namespace

QueryTable::QueryTable(UpTime *clock)
    : m_clock(clock)
    , m_entries(quint32(randomSeed()))
{
}

quint64 QueryTable::remoteSlot(quint16 externalIdentifier, quint32 remoteAddress)
{
    return quint64(externalIdentifier) << 32 | remoteAddress;
}

quint64 QueryTable::remoteSlotOf(const Mappings::Item &item)
{
    return remoteSlot(item.value.externalIdentifier, item.key.remoteAddress);
}

quint64 QueryTable::slotAt(quint32 position) const
{
    return remoteSlotOf(m_entries.at(int(position)));
}

int QueryTable::findRemote(quint64 slot) const
{
    return m_byRemote.find(slot, [this](quint32 position) { return slotAt(position); });
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
    if (QueryEntry *found = m_entries.find(key)) {
        QueryEntry &entry = *found;
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
    const int position = m_entries.insert(key, entry);
    m_byRemote.insert(remoteSlot(*chosen, remoteAddress), position);
    return chosen;
}

std::optional<quint16> QueryTable::chooseIdentifier(const QueryKey &key) const
{
    const int identifier = qFromBigEndian(key.identifier);
    const int base = identifier != 0 ? identifier - 1 : 0;
    for (int i = 0; i < kIdentifierCount; ++i) {
        const quint16 candidate = quint16((i + base) % kIdentifierCount + 1);
        if (findRemote(remoteSlot(candidate, key.remoteAddress)) < 0)
            return candidate;
    }
    return std::nullopt;
}

std::optional<QueryKey> QueryTable::translateInbound(quint16 externalIdentifier,
                                                     quint32 remoteAddress, quint32 length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int position = findRemote(remoteSlot(externalIdentifier, remoteAddress));
    if (position < 0)
        return std::nullopt;
    Mappings::Item &item = m_entries.at(position);
    QueryEntry &entry = item.value;
    entry.bytesIn += length;
    ++entry.packetsIn;
    entry.lastSeen = now();
    return item.key;
}

bool QueryTable::removeMapping(const QueryKey &key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int position = m_entries.indexOf(key);
    if (position < 0)
        return false;
    removeAt(position);
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
    // Removing a mapping moves the last one into its position, which is looked at next.
    for (int position = 0; position < m_entries.size();) {
        const qint64 remaining = qint64(idleSeconds) + m_entries.at(position).value.lastSeen - seconds;
        if (remaining <= 0) {
            removeAt(position);
            continue;
        }
        if (smallest == 0 || remaining < smallest)
            smallest = remaining;
        ++position;
    }
    return quint32(std::min<qint64>(smallest, std::numeric_limits<quint32>::max()));
}

void QueryTable::removeAt(int position)
{
    m_byRemote.erase(slotAt(quint32(position)), position);
    const int moved = m_entries.eraseAt(position);
    if (moved >= 0)
        m_byRemote.retarget(slotAt(quint32(position)), moved, position);
}

std::optional<QueryEntry> QueryTable::entry(const QueryKey &key) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.value(key);
}

QHash<QueryKey, QueryEntry> QueryTable::mappings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.toHash();
}

int QueryTable::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

// Every mapping is indexed, and named, by its own reverse slot, and by nothing else.
bool QueryTable::isConsistent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_entries.isConsistent() || m_byRemote.size() != m_entries.size())
        return false;
    if (!m_byRemote.isConsistent(m_entries.size(), [this](quint32 position) { return slotAt(position); }))
        return false;
    for (int position = 0; position < m_entries.size(); ++position) {
        if (findRemote(remoteSlotOf(m_entries.at(position))) != position)
            return false;
    }
    return true;
}
