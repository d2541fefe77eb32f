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
    // A snapshot of the whole table.
    QHash<quint32, QByteArray> table() const;

private:
    mutable std::mutex m_mutex;
    QHash<quint32, QByteArray> m_table;
};
