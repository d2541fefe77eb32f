// SPDX-License-Identifier: GPL-3.0-or-later
// The table of connected users, and the upstream gateway's MAC address.
#include "engine/arptable.h"

#include "app/uptime.h"
#include "platform/hostnetwork.h"

#include <limits>
#include <mutex>

namespace {

constexpr int kMacLength = 6;
constexpr qint64 kIdleSeconds = 60;
constexpr int kIdleCheckMs = 60000;
constexpr quint64 kGatewayValid = quint64(1) << 48;

quint64 packMac(const QByteArray &mac)
{
    quint64 word = kGatewayValid;
    for (int i = 0; i < kMacLength; ++i)
        word |= quint64(quint8(mac.at(i))) << (8 * (kMacLength - 1 - i));
    return word;
}

QByteArray unpackMac(quint64 word)
{
    if (!(word & kGatewayValid))
        return QByteArray();
    QByteArray mac(kMacLength, '\0');
    for (int i = 0; i < kMacLength; ++i)
        mac[i] = char(quint8(word >> (8 * (kMacLength - 1 - i))));
    return mac;
}

// The interface whose IPv4 subnet holds the address (longest prefix first), or 0.
int interfaceForNeighbour(quint32 target)
{
    int best = 0;
    int bestPrefix = 0;
    for (const platform::AdapterRecord &adapter : platform::adapters()) {
        for (const platform::AddressRecord &own : platform::ipv4Addresses(adapter.index)) {
            if (own.prefixLength <= bestPrefix || own.prefixLength > 32)
                continue;
            const quint32 mask = ~quint32(0) << (32 - own.prefixLength);
            if ((own.address & mask) == (target & mask)) {
                best = adapter.index;
                bestPrefix = own.prefixLength;
            }
        }
    }
    return best;
}

} // namespace

ARPTable::ARPTable(UpTime *clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_idleTimer(this)
{
    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, this, &ARPTable::idleTimeout);
}

quint32 ARPTable::now() const
{
    return m_clock ? m_clock->seconds() : 0;
}

void ARPTable::start()
{
    m_idleTimer.start(kIdleCheckMs);
}

void ARPTable::clear()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_idleTimer.stop();
        m_users.clear();
        m_addressesByMac.clear();
    }
    emit changed();
}

void ARPTable::setGatewayMac(const QByteArray &mac)
{
    m_gatewayMac.store(mac.size() == kMacLength ? packMac(mac) : 0, std::memory_order_release);
}

QByteArray ARPTable::gatewayMac() const
{
    return unpackMac(m_gatewayMac.load(std::memory_order_acquire));
}

QHash<quint32, UserRecord> ARPTable::users() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_users;
}

QByteArray ARPTable::macOf(quint32 address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto user = m_users.constFind(address);
    return user == m_users.constEnd() ? QByteArray() : user->mac;
}

// Drops the user at the address together with its MAC's address entry. Called with the
// mutex held. The entry goes only when it still points here, so the table never holds a
// MAC whose address belongs to another client.
void ARPTable::forgetAddress(quint32 address)
{
    const auto user = m_users.constFind(address);
    if (user == m_users.constEnd())
        return;
    const auto entry = m_addressesByMac.constFind(user->mac);
    if (entry != m_addressesByMac.constEnd() && *entry == address)
        m_addressesByMac.remove(user->mac);
    m_users.remove(address);
}

bool ARPTable::add(quint32 address, const UserRecord &record)
{
    if (record.mac.size() != kMacLength)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // The client changed address: it appears once, under the new one.
        const auto previous = m_addressesByMac.constFind(record.mac);
        if (previous != m_addressesByMac.constEnd())
            forgetAddress(*previous);
        // The address was another client's: that client's MAC no longer leads here.
        forgetAddress(address);

        UserRecord stored = record;
        if (stored.hostName.isEmpty())
            stored.hostName = m_namesByMac.value(stored.mac);
        stored.lastSeen = now();
        m_users.insert(address, stored);
        m_addressesByMac.insert(stored.mac, address);
        m_namesByMac.insert(stored.mac, stored.hostName);
    }
    emit changed();
    return true;
}

void ARPTable::remove(quint32 address)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        forgetAddress(address);
    }
    emit changed();
}

void ARPTable::update(quint32 address, quint32 kind, quint32 length)
{
    bool reactivated = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Look up without detaching: most frames are not a user's.
        if (!m_users.contains(address))
            return;
        UserRecord &user = m_users[address];
        user.lastSeen = now();
        if (kind == UserSent) {
            user.packetsSent += 1;
            user.bytesSent += length;
        } else {
            user.packetsReceived += 1;
            user.bytesReceived += length;
        }
        if (m_clock)
            m_clock->update(int(kind), length);
        reactivated = user.inactive != 0;
        user.inactive = 0;
    }
    if (reactivated)
        emit changed();
}

void ARPTable::setHostName(const QByteArray &mac, const QByteArray &name)
{
    if (mac.size() != kMacLength)
        return;
    bool applied = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_namesByMac.insert(mac, name);
        const auto entry = m_addressesByMac.constFind(mac);
        if (entry != m_addressesByMac.constEnd()) {
            const auto user = m_users.find(*entry);
            if (user != m_users.end()) {
                user->hostName = name;
                applied = true;
            }
        }
    }
    if (applied)
        emit changed();
}

// Marks every user silent for 60 seconds as inactive and schedules the next check for the
// moment the next active user would become idle (at most 60 seconds away).
void ARPTable::idleTimeout()
{
    bool marked = false;
    qint64 smallest = std::numeric_limits<qint64>::max();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const qint64 current = now();
        for (auto it = m_users.begin(); it != m_users.end(); ++it) {
            if (it->inactive)
                continue;
            const qint64 remaining = qint64(it->lastSeen) + kIdleSeconds - current;
            if (remaining <= 0) {
                it->inactive = 1;
                marked = true;
            } else if (remaining < smallest) {
                smallest = remaining;
            }
        }
        if (smallest >= 1 && smallest <= kIdleSeconds)
            m_idleTimer.start(int(smallest * 1000));
        else
            m_idleTimer.start(kIdleCheckMs);
    }
    if (marked)
        emit changed();
}

QByteArray ARPTable::macForAddress(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 target = address.toIPv4Address(&isIPv4);
    if (!isIPv4)
        return QByteArray();
    const int ifindex = interfaceForNeighbour(target);
    if (ifindex == 0)
        return QByteArray();
    const QByteArray mac = platform::resolveHardwareAddress(ifindex, target);
    return mac.size() == kMacLength ? mac : QByteArray();
}
