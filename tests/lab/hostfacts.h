// SPDX-License-Identifier: GPL-3.0-or-later
// What a lab host's network holds now: addresses, links and the kernel's counters.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class Lab;

// Reads through `ip -j` and /proc inside the host, so it sees what the kernel has, not
// what a test meant to set. A query that fails reads as empty (or -1, or 0).
class HostFacts
{
public:
    explicit HostFacts(Lab &lab);

    // The IPv4 addresses on `ifname`, without prefix length, in the kernel's order.
    QStringList addresses(const QString &host, const QString &ifname) const;
    bool hasAddress(const QString &host, const QString &ifname, const QString &address) const;
    // The interface's index, or -1.
    int ifindex(const QString &host, const QString &ifname) const;
    // The interface's MAC address as `ip` prints it (lower case, colons), or empty.
    QByteArray mac(const QString &host, const QString &ifname) const;
    // One counter of /proc/net/snmp, e.g. group "Ip", field "ReasmReqds"; 0 when absent.
    quint64 snmpCounter(const QString &host, const QByteArray &group, const QByteArray &field) const;

private:
    Lab &m_lab;
};
