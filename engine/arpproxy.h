// SPDX-License-Identifier: GPL-3.0-or-later
// Bridge mode's memory of the real MAC address behind each relayed IPv4 address.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <mutex>

// Frames relayed through a wireless adapter carry that adapter's MAC; this table remembers
// which client MAC stands behind each IPv4 address so replies can be turned back to it.
// Safe to use from any thread; every operation holds the mutex for its whole duration.
class ARPProxy : public QObject
{
    Q_OBJECT
public:
    explicit ARPProxy(QObject *parent = nullptr);

    // Stores or replaces the MAC (6 bytes) for an IPv4 address in network order.
    // Returns false, storing nothing, when the MAC is not 6 bytes long.
    bool insert(quint32 address, const QByteArray &mac);
    // Stores the MAC only when the address has no entry yet, in one step under the mutex,
    // so two threads racing for the same address never replace each other's entry.
    // Returns true when it stored the MAC.
    bool insertIfAbsent(quint32 address, const QByteArray &mac);
    // The MAC stored for the address, or an empty array. For the per-frame path: it leaves
    // no shared copy of the table behind that the next insert would have to detach.
    QByteArray macOf(quint32 address) const;
    // A snapshot of the whole table.
    QHash<quint32, QByteArray> table() const;

private:
    mutable std::mutex m_mutex;
    QHash<quint32, QByteArray> m_table;
};
