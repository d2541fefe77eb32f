// SPDX-License-Identifier: GPL-3.0-or-later
// The table of connected users, and the upstream gateway's MAC address.
#pragma once

#include "engine/userrecord.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <mutex>

class UpTime;

// Every hotspot client seen by the engine or the DHCP server, keyed by its IPv4 address in
// network order. Times are UpTime seconds. A user is never removed for idleness: the idle
// check marks it inactive after 60 seconds without a counted frame, and the next counted
// frame makes it active again; only remove() and clear() drop users.
//
// Thread rules: users(), macOf(), add(), remove(), update() and setHostName() may be called
// from any thread; each holds the mutex for its whole duration and calls out only to the
// clock's counters while holding it. changed() is emitted after the mutex is released, from
// the thread that made the change, so a directly connected receiver may call back in.
// start(), clear() and the idle timer belong to the thread the table lives in. The gateway
// MAC is kept outside the mutex in one atomic word, so the engine threads may read it per
// frame while the owner sets it.
class ARPTable : public QObject
{
    Q_OBJECT
public:
    explicit ARPTable(UpTime *clock, QObject *parent = nullptr);

    // Starts the idle check, first after 60 seconds.
    void start();
    // Stops the idle check and drops every user; host names and the gateway MAC stay.
    void clear();

    // A MAC that is not 6 bytes long forgets the gateway (gatewayMac() is then empty).
    void setGatewayMac(const QByteArray &mac);
    // The 6 bytes set last, or an empty array before any was set.
    QByteArray gatewayMac() const;

    // A snapshot of the users.
    QHash<quint32, UserRecord> users() const;
    // The MAC of the user at the address, or an empty array when it is not a user. For the
    // per-frame path: unlike users(), it leaves no shared copy behind that the next
    // update() would have to detach.
    QByteArray macOf(quint32 address) const;

    // Stores the user under the address, replacing any user there (counters included); a
    // MAC known under another address moves from there. A record whose MAC is not 6 bytes
    // is refused (false).
    bool add(quint32 address, const UserRecord &record);
    // Drops the user at the address, if any; changed() is emitted in every case.
    void remove(quint32 address);
    // Counts one frame of `length` bytes for the user at the address, kind 1 for a frame
    // the user sent and any other kind for one sent to it, and adds it to the clock's
    // totals. An address that is not a user is ignored. Never allocates unless a snapshot
    // from users() is alive at the same moment (the shared copy is then detached).
    void update(quint32 address, quint32 kind, quint32 length);
    // Remembers the host name for the MAC and applies it to the user holding that MAC.
    void setHostName(const QByteArray &mac, const QByteArray &name);

    // The MAC of an IPv4 neighbour, resolved with an ARP request on the host interface whose
    // subnet holds the address; an empty array when there is no such interface or no answer
    // within about one second. Blocks for that long.
    static QByteArray macForAddress(const QHostAddress &address);

signals:
    void changed();

private slots:
    void idleTimeout();

private:
    quint32 now() const;
    void forgetAddress(quint32 address);

    UpTime *m_clock;
    std::atomic<quint64> m_gatewayMac{0}; // bit 48 set when valid, the 6 bytes below it
    QHash<quint32, UserRecord> m_users;
    QHash<QByteArray, quint32> m_addressesByMac;
    QHash<QByteArray, QByteArray> m_namesByMac;
    QTimer m_idleTimer;
    mutable std::mutex m_mutex;
};
