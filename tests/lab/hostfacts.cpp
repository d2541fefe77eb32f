// SPDX-License-Identifier: GPL-3.0-or-later
// What a lab host's network holds now: addresses, links and the kernel's counters.
#include "tests/lab/hostfacts.h"

#include "tests/lab/lab.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

HostFacts::HostFacts(Lab &lab)
    : m_lab(lab)
{
}

QStringList HostFacts::addresses(const QString &host, const QString &ifname) const
{
    QStringList list;
    const QByteArray json = m_lab.ip(host, {"-j", "-4", "addr", "show", "dev", ifname}).out;
    for (const QJsonValue &link : QJsonDocument::fromJson(json).array())
        for (const QJsonValue &entry : link.toObject().value("addr_info").toArray())
            list << entry.toObject().value("local").toString();
    return list;
}

bool HostFacts::hasAddress(const QString &host, const QString &ifname, const QString &address) const
{
    return addresses(host, ifname).contains(address);
}

int HostFacts::ifindex(const QString &host, const QString &ifname) const
{
    const QByteArray json = m_lab.ip(host, {"-j", "link", "show", "dev", ifname}).out;
    return QJsonDocument::fromJson(json).array().at(0).toObject().value("ifindex").toInt(-1);
}

QByteArray HostFacts::mac(const QString &host, const QString &ifname) const
{
    const QByteArray json = m_lab.ip(host, {"-j", "link", "show", "dev", ifname}).out;
    return QJsonDocument::fromJson(json).array().at(0).toObject().value("address").toString().toLatin1();
}

// /proc/net/snmp holds pairs of lines per group: "Ip: Forwarding DefaultTTL ..." names the
// columns, the next "Ip: 1 64 ..." gives their values.
quint64 HostFacts::snmpCounter(const QString &host, const QByteArray &group, const QByteArray &field) const
{
    const QByteArray tag = group + ": ";
    const QList<QByteArray> lines = m_lab.run(host, {"cat", "/proc/net/snmp"}).out.split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].startsWith(tag) || !lines[i + 1].startsWith(tag))
            continue;
        const int column = lines[i].simplified().split(' ').indexOf(field);
        return column > 0 ? lines[i + 1].simplified().split(' ').value(column).toULongLong() : 0;
    }
    return 0;
}
