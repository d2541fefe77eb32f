// SPDX-License-Identifier: GPL-3.0-or-later
// PortTable: the TCP or UDP translation table of router mode, with its state machine.
#include "engine/porttable.h"

#include "app/uptime.h"
#include "engine/wire.h"

#include <QRandomGenerator>
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

bool isWildcard(const PortKey &key)
{
    return key.remoteAddress == 0 || key.remotePort == 0;
}

quint64 randomSeed()
{
    return QRandomGenerator::system()->generate64();
}

} // namespace

PortTable::PortTable(UpTime *clock)
    : m_clock(clock)
    , m_entries(quint32(randomSeed()))
{
}

quint64 PortTable::remoteSlot(quint16 externalPort, quint32 remoteAddress, quint16 remotePort)
{
    return quint64(externalPort) << 48 | quint64(remoteAddress) << 16 | remotePort;
}

quint64 PortTable::remoteSlotOf(const Mappings::Item &item)
{
    return remoteSlot(item.value.externalPort, item.key.remoteAddress, item.key.remotePort);
}

quint64 PortTable::slotAt(quint32 position) const
{
    return remoteSlotOf(m_entries.at(int(position)));
}

int PortTable::findRemote(quint64 slot) const
{
    return m_byRemote.find(slot, [this](quint32 position) { return slotAt(position); });
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
    if (PortEntry *found = m_entries.find(key)) {
        PortEntry &entry = *found;
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
    insertMapping(key, entry);
    return port;
}

std::optional<quint16> PortTable::choosePort(const PortKey &key) const
{
    const int privatePort = qFromBigEndian(key.privatePort);
    const int base = privatePort >= kFirstExternalPort ? privatePort - kFirstExternalPort : 0;
    for (int i = 0; i < kExternalPortCount; ++i) {
        const quint16 candidate = quint16((i + base) % kExternalPortCount + kFirstExternalPort);
        if (!portServes(candidate, key.remoteAddress, key.remotePort))
            return candidate;
    }
    return std::nullopt;
}

// Whether the port already serves the remote endpoint, or the endpoint it is one with on
// the wire.
bool PortTable::portServes(quint16 port, quint32 remoteAddress, quint16 remotePort) const
{
    if (findRemote(remoteSlot(port, remoteAddress, remotePort)) >= 0)
        return true;
    if (m_aliasAddress == 0)
        return false;
    if (remoteAddress == m_aliasAddress && remotePort == m_aliasPort)
        return findRemote(remoteSlot(port, m_aliasedAddress, m_aliasedPort)) >= 0;
    if (remoteAddress == m_aliasedAddress && remotePort == m_aliasedPort)
        return findRemote(remoteSlot(port, m_aliasAddress, m_aliasPort)) >= 0;
    return false;
}

void PortTable::setRemoteAlias(quint32 aliasAddress, quint16 aliasPort, quint32 address,
                               quint16 port)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool set = aliasAddress != 0 && address != 0;
    m_aliasAddress = set ? aliasAddress : 0;
    m_aliasPort = set ? aliasPort : 0;
    m_aliasedAddress = set ? address : 0;
    m_aliasedPort = set ? port : 0;
}

std::optional<PortKey> PortTable::translateInbound(quint16 externalPort, quint32 remoteAddress,
                                                   quint16 remotePort, quint32 length,
                                                   quint8 flags)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int position = findRemote(remoteSlot(externalPort, remoteAddress, remotePort));
    if (position >= 0) {
        Mappings::Item &item = m_entries.at(position);
        PortEntry &entry = item.value;
        entry.state = inboundState(entry, flags);
        entry.bytesIn += length;
        ++entry.packetsIn;
        entry.lastSeen = now();
        return item.key;
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
    PortEntry *origin = m_entries.find(*candidate);
    if (!origin || m_entries.contains(derived))
        return std::nullopt;

    const quint32 seconds = now();
    origin->lastSeen = seconds;
    PortEntry entry;
    entry.externalPort = origin->externalPort;
    entry.origin = origin->origin;
    entry.bytesOut = origin->bytesOut;
    entry.packetsOut = origin->packetsOut;
    entry.bytesIn = length;
    entry.packetsIn = 1;
    entry.lastSeen = seconds;
    entry.state = flags == Wire::kTCPSyn ? PortState::SynIn : PortState::Unanswered;
    insertMapping(derived, entry); // `origin` is not valid after this
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
    insertMapping(key, entry);
    return true;
}

bool PortTable::removeMapping(const PortKey &key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int position = m_entries.indexOf(key);
    if (position < 0)
        return false;
    removeAt(position);
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
    // Removing a mapping moves the last one into its position, which is looked at next.
    for (int position = 0; position < m_entries.size();) {
        const Mappings::Item &item = m_entries.at(position);
        const qint64 remaining = qint64(idleSeconds(item.key, item.value)) + item.value.lastSeen - seconds;
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

// A new key whose reverse slot is taken already can only be a static mapping (outbound
// mappings get a port whose slot is free, derived ones a slot that had no mapping): it
// waits in the wildcard list behind the one that holds the slot.
void PortTable::insertMapping(const PortKey &key, const PortEntry &entry)
{
    const quint64 slot = remoteSlot(entry.externalPort, key.remoteAddress, key.remotePort);
    const bool slotFree = findRemote(slot) < 0;
    const int position = m_entries.insert(key, entry);
    if (slotFree)
        m_byRemote.insert(slot, position);
    if (isWildcard(key))
        m_wildcards[entry.externalPort].append(key);
}

void PortTable::removeAt(int position)
{
    const PortKey key = m_entries.at(position).key;
    const quint16 externalPort = m_entries.at(position).value.externalPort;
    const quint64 slot = remoteSlot(externalPort, key.remoteAddress, key.remotePort);
    const bool held = m_byRemote.erase(slot, position);
    if (isWildcard(key)) {
        const auto wildcards = m_wildcards.find(externalPort);
        if (wildcards != m_wildcards.end()) {
            for (int i = wildcards->size() - 1; i >= 0; --i) {
                if (wildcards->at(i) == key)
                    wildcards->remove(i);
            }
            if (wildcards->isEmpty())
                m_wildcards.erase(wildcards);
        }
    }
    const int moved = m_entries.eraseAt(position);
    if (moved >= 0)
        m_byRemote.retarget(slotAt(quint32(position)), moved, position);
    if (held && isWildcard(key))
        indexNextSharing(externalPort, slot);
}

// The static mapping added next after the removed one under the same reverse slot takes it.
void PortTable::indexNextSharing(quint16 externalPort, quint64 slot)
{
    const auto wildcards = m_wildcards.constFind(externalPort);
    if (wildcards == m_wildcards.constEnd())
        return;
    for (const PortKey &key : *wildcards) {
        if (remoteSlot(externalPort, key.remoteAddress, key.remotePort) != slot)
            continue;
        const int position = m_entries.indexOf(key);
        if (position >= 0)
            m_byRemote.insert(slot, position);
        return;
    }
}

std::optional<PortEntry> PortTable::entry(const PortKey &key) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.value(key);
}

QHash<PortKey, PortEntry> PortTable::mappings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.toHash();
}

QVector<PortKey> PortTable::keysForPort(quint16 externalPort) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QVector<PortKey> keys;
    for (const Mappings::Item &item : m_entries) {
        if (item.value.externalPort == externalPort)
            keys.append(item.key);
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
    if (!m_entries.isConsistent())
        return false;
    if (!m_byRemote.isConsistent(m_entries.size(), [this](quint32 position) { return slotAt(position); }))
        return false;
    // Every mapping is found through its reverse slot: itself, or a static mapping that
    // shares the slot and was added before it.
    for (int position = 0; position < m_entries.size(); ++position) {
        const Mappings::Item &item = m_entries.at(position);
        const int found = findRemote(remoteSlotOf(item));
        if (found < 0)
            return false;
        if (found != position && !(isWildcard(item.key) && isWildcard(m_entries.at(found).key)))
            return false;
    }
    return wildcardsConsistent();
}

// Each wildcard list holds mappings of its port with remote address or port 0, each once,
// and the first one of each reverse slot in the list is the one that slot names.
bool PortTable::wildcardsConsistent() const
{
    int wildcards = 0;
    for (auto it = m_wildcards.constBegin(); it != m_wildcards.constEnd(); ++it) {
        QVector<quint64> slotsSeen;
        for (const PortKey &key : it.value()) {
            const PortEntry *found = m_entries.find(key);
            if (!found || found->externalPort != it.key() || !isWildcard(key))
                return false;
            const quint64 slot = remoteSlot(it.key(), key.remoteAddress, key.remotePort);
            const bool first = !slotsSeen.contains(slot);
            const int named = findRemote(slot);
            if (first != (named >= 0 && m_entries.at(named).key == key))
                return false;
            slotsSeen.append(slot);
            ++wildcards;
        }
    }
    int expectedWildcards = 0;
    for (const Mappings::Item &item : m_entries)
        expectedWildcards += isWildcard(item.key);
    return wildcards == expectedWildcards;
}
