// SPDX-License-Identifier: GPL-3.0-or-later
// PortTable: the TCP or UDP translation table of router mode, with its state machine.
#include "engine/porttable.h"

#include "app/uptime.h"
#include "engine/wire.h"

#include <QtEndian>

#include <algorithm>
#include <limits>

namespace {

constexpr quint16 kFirstExternalPort = 10000;
constexpr int kExternalPortCount = 65536 - kFirstExternalPort; // 55536
// Any bit but SYN: such a segment never creates a mapping.
constexpr quint8 kNotBareSyn = quint8(~Wire::kTCPSyn);
constexpr quint8 kFinAck = Wire::kTCPFin | Wire::kTCPAck;

bool hasFin(quint8 flags)
{
    return flags & Wire::kTCPFin;
}

quint8 outboundState(const PortEntry &entry, quint8 flags)
{
    const quint8 state = entry.state;
    if (flags & Wire::kTCPRst)
        return PortState::Reset;
    if (flags == Wire::kTCPSyn)
        return PortState::SynOut;
    if (flags == Wire::kTCPAck && state == PortState::SynOut)
        return PortState::Established;
    if (hasFin(flags) && (state == PortState::SynIn || state == PortState::Established))
        return PortState::FinOut;
    if (hasFin(flags) && state == PortState::FinIn)
        return PortState::FinInFinOut;
    if (entry.origin == MappingOrigin::Inbound && state == PortState::Unanswered)
        return PortState::Established;
    return state;
}

quint8 inboundState(const PortEntry &entry, quint8 flags)
{
    const quint8 state = entry.state;
    if (flags & Wire::kTCPRst)
        return PortState::Reset;
    if (flags == Wire::kTCPSyn)
        return PortState::SynIn;
    if (state == PortState::SynIn && flags == Wire::kTCPAck)
        return PortState::Established;
    if (state == PortState::Established && hasFin(flags))
        return PortState::FinIn;
    if (state == PortState::FinOut) {
        if (flags == Wire::kTCPAck)
            return PortState::FinOutAcked;
        if (flags == kFinAck)
            return PortState::Closed;
        if (flags == Wire::kTCPFin)
            return PortState::FinOutFinIn;
    }
    if (state == PortState::FinOutAcked && hasFin(flags))
        return PortState::Closed;
    if (state == PortState::FinOutFinIn && flags == Wire::kTCPAck)
        return PortState::Closed;
    if (state == PortState::FinInFinOut && flags == Wire::kTCPAck)
        return PortState::Reset;
    if (entry.origin == MappingOrigin::Outbound && state == PortState::Unanswered)
        return PortState::Established;
    return state;
}

template <typename List, typename Key>
void removeAll(List &list, const Key &key)
{
    for (int i = list.size() - 1; i >= 0; --i) {
        if (list.at(i) == key)
            list.remove(i);
    }
}

} // namespace

PortTable::PortTable(UpTime *clock)
    : m_clock(clock)
{
}

PortTable::RemoteSlot PortTable::slotOf(quint16 externalPort, quint32 remoteAddress,
                                        quint16 remotePort)
{
    return RemoteSlot{quint64(externalPort) << 48 | quint64(remoteAddress) << 16 | remotePort};
}

quint32 PortTable::now() const
{
    return m_clock ? m_clock->seconds() : 0;
}

std::optional<quint16> PortTable::translateOutbound(quint32 privateAddress, quint16 privatePort,
                                                    quint32 remoteAddress, quint16 remotePort,
                                                    quint32 length, quint8 flags)
{
    PortKey key;
    key.privateAddress = privateAddress;
    key.privatePort = privatePort;
    key.remoteAddress = remoteAddress;
    key.remotePort = remotePort;

    std::lock_guard<std::mutex> lock(m_mutex);
    const quint32 seconds = now();
    const auto found = m_entries.find(key);
    if (found != m_entries.end()) {
        PortEntry &entry = found.value();
        entry.state = outboundState(entry, flags);
        entry.bytesOut += length;
        ++entry.packetsOut;
        entry.lastSeen = seconds;
        return entry.externalPort;
    }
    if ((flags & kNotBareSyn) || remoteAddress == 0 || remotePort == 0)
        return std::nullopt;
    const std::optional<quint16> port = choosePort(key);
    if (!port)
        return std::nullopt;

    PortEntry entry;
    entry.externalPort = *port;
    entry.lastSeen = seconds;
    entry.origin = MappingOrigin::Outbound;
    entry.state = flags == Wire::kTCPSyn ? PortState::SynOut : PortState::Unanswered;
    entry.bytesOut = length;
    entry.packetsOut = 1;
    m_entries.insert(key, entry);
    index(key, *port);
    return port;
}

std::optional<quint16> PortTable::choosePort(const PortKey &key) const
{
    const int privatePort = qFromBigEndian(key.privatePort);
    const int base = privatePort >= kFirstExternalPort ? privatePort - kFirstExternalPort : 0;
    for (int i = 0; i < kExternalPortCount; ++i) {
        const quint16 candidate = quint16((i + base) % kExternalPortCount + kFirstExternalPort);
        if (!m_byRemote.contains(slotOf(candidate, key.remoteAddress, key.remotePort)))
            return candidate;
    }
    return std::nullopt;
}

std::optional<PortKey> PortTable::translateInbound(quint16 externalPort, quint32 remoteAddress,
                                                   quint16 remotePort, quint32 length,
                                                   quint8 flags)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto listed = m_byRemote.constFind(slotOf(externalPort, remoteAddress, remotePort));
    if (listed != m_byRemote.constEnd() && !listed->isEmpty()) {
        const PortKey key = listed->first();
        const auto found = m_entries.find(key);
        if (found != m_entries.end()) {
            PortEntry &entry = found.value();
            entry.state = inboundState(entry, flags);
            entry.bytesIn += length;
            ++entry.packetsIn;
            entry.lastSeen = now();
            return key;
        }
    }
    if (flags & kNotBareSyn)
        return std::nullopt;
    return deriveFromWildcard(externalPort, remoteAddress, remotePort, length, flags);
}

std::optional<PortKey> PortTable::deriveFromWildcard(quint16 externalPort, quint32 remoteAddress,
                                                     quint16 remotePort, quint32 length,
                                                     quint8 flags)
{
    if (remoteAddress == 0 || remotePort == 0)
        return std::nullopt;
    const auto wildcards = m_wildcards.constFind(externalPort);
    if (wildcards == m_wildcards.constEnd())
        return std::nullopt;
    std::optional<PortKey> candidate;
    for (const PortKey &key : *wildcards) {
        if ((key.remoteAddress == 0 || key.remoteAddress == remoteAddress)
            && (key.remotePort == 0 || key.remotePort == remotePort))
            candidate = key;
    }
    if (!candidate)
        return std::nullopt;

    PortKey derived = *candidate;
    derived.remoteAddress = remoteAddress;
    derived.remotePort = remotePort;
    derived.staticPort = 0;
    // The client already talks to this remote endpoint through another external port:
    // overwriting that mapping would leave its index entry behind, so the packet is left
    // untranslated instead.
    if (m_entries.contains(derived))
        return std::nullopt;

    const quint32 seconds = now();
    PortEntry &origin = m_entries[*candidate];
    origin.lastSeen = seconds;
    PortEntry entry;
    entry.externalPort = origin.externalPort;
    entry.origin = origin.origin;
    entry.bytesOut = origin.bytesOut;
    entry.packetsOut = origin.packetsOut;
    entry.bytesIn = length;
    entry.packetsIn = 1;
    entry.lastSeen = seconds;
    entry.state = flags == Wire::kTCPSyn ? PortState::SynIn : PortState::Unanswered;
    m_entries.insert(derived, entry);
    index(derived, entry.externalPort);
    return derived;
}

bool PortTable::addStaticMapping(quint32 privateAddress, quint16 privatePort,
                                 quint32 remoteAddress, quint16 externalPort)
{
    if (privateAddress == 0 || privatePort == 0 || externalPort == 0)
        return false;
    PortKey key;
    key.privateAddress = qToBigEndian(privateAddress);
    key.privatePort = qToBigEndian(privatePort);
    key.remoteAddress = qToBigEndian(remoteAddress);
    key.staticPort = qToBigEndian(externalPort);

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_entries.contains(key))
        return true;
    PortEntry entry;
    entry.externalPort = externalPort;
    entry.state = PortState::Static;
    entry.origin = MappingOrigin::Inbound;
    entry.lastSeen = now();
    m_entries.insert(key, entry);
    index(key, externalPort);
    return true;
}

bool PortTable::removeMapping(const PortKey &key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_entries.find(key);
    if (found == m_entries.end())
        return false;
    unindex(key, found->externalPort);
    m_entries.erase(found);
    return true;
}

void PortTable::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
    m_byRemote.clear();
    m_wildcards.clear();
}

quint32 PortTable::purge(
    const std::function<quint32(const PortKey &, const PortEntry &)> &idleSeconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const qint64 seconds = now();
    qint64 smallest = 0;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const qint64 remaining = qint64(idleSeconds(it.key(), it.value())) + it->lastSeen - seconds;
        if (remaining <= 0) {
            unindex(it.key(), it->externalPort);
            it = m_entries.erase(it);
            continue;
        }
        if (smallest == 0 || remaining < smallest)
            smallest = remaining;
        ++it;
    }
    return quint32(std::min<qint64>(smallest, std::numeric_limits<quint32>::max()));
}

void PortTable::index(const PortKey &key, quint16 externalPort)
{
    m_byRemote[slotOf(externalPort, key.remoteAddress, key.remotePort)].append(key);
    if (key.remoteAddress == 0 || key.remotePort == 0)
        m_wildcards[externalPort].append(key);
}

void PortTable::unindex(const PortKey &key, quint16 externalPort)
{
    const auto listed = m_byRemote.find(slotOf(externalPort, key.remoteAddress, key.remotePort));
    if (listed != m_byRemote.end()) {
        removeAll(*listed, key);
        if (listed->isEmpty())
            m_byRemote.erase(listed);
    }
    if (key.remoteAddress != 0 && key.remotePort != 0)
        return;
    const auto wildcards = m_wildcards.find(externalPort);
    if (wildcards != m_wildcards.end()) {
        removeAll(*wildcards, key);
        if (wildcards->isEmpty())
            m_wildcards.erase(wildcards);
    }
}

std::optional<PortEntry> PortTable::entry(const PortKey &key) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_entries.constFind(key);
    if (found == m_entries.constEnd())
        return std::nullopt;
    return found.value();
}

QHash<PortKey, PortEntry> PortTable::mappings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QHash<PortKey, PortEntry> copy = m_entries;
    // A shared copy would make the next translation detach (copy) the whole table.
    copy.detach();
    return copy;
}

QVector<PortKey> PortTable::keysForPort(quint16 externalPort) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QVector<PortKey> keys;
    for (auto it = m_byRemote.constBegin(); it != m_byRemote.constEnd(); ++it) {
        if (quint16(it.key().value >> 48) != externalPort)
            continue;
        for (const PortKey &key : it.value())
            keys.append(key);
    }
    return keys;
}

int PortTable::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

bool PortTable::isConsistent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int indexed = 0;
    for (auto it = m_byRemote.constBegin(); it != m_byRemote.constEnd(); ++it) {
        for (const PortKey &key : it.value()) {
            const auto found = m_entries.constFind(key);
            if (found == m_entries.constEnd()
                || !(slotOf(found->externalPort, key.remoteAddress, key.remotePort) == it.key()))
                return false;
            ++indexed;
        }
    }
    int wildcards = 0;
    for (auto it = m_wildcards.constBegin(); it != m_wildcards.constEnd(); ++it) {
        for (const PortKey &key : it.value()) {
            const auto found = m_entries.constFind(key);
            if (found == m_entries.constEnd() || found->externalPort != it.key()
                || (key.remoteAddress != 0 && key.remotePort != 0))
                return false;
            ++wildcards;
        }
    }
    int expectedWildcards = 0;
    for (auto it = m_entries.constBegin(); it != m_entries.constEnd(); ++it) {
        if (it.key().remoteAddress == 0 || it.key().remotePort == 0)
            ++expectedWildcards;
    }
    return indexed == m_entries.size() && wildcards == expectedWildcards;
}
