// SPDX-License-Identifier: GPL-3.0-or-later
// Real DHCP clients in lab hosts: busybox udhcpc and ISC dhclient, their scripts and reports.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

class ScratchDir;

// The scripts print what the client learnt as one line of key=value fields, udhcpc's as
// "event=bound ip=... subnet=... router=... dns=... lease=... serverid=...", dhclient's
// with "reason=BOUND" first, then set up as much of it as the test asks for.
namespace DhcpClients {

enum class Setup {
    None,           // report only: the host sends nothing from the address until told to
    Address,        // the leased address on the interface
    AddressAndRoute // and the default route through the offered router
};

QByteArray udhcpcScript(Setup setup);
// With an address set up, a release, expiry or stop also takes it off again.
QByteArray dhclientScript(Setup setup);

// Writes dhclient.sh and dhclient.conf into `dir`; the configuration sends `hostName`, asks
// for mask, routers, name servers and domain name, and gives up after 20 seconds.
bool writeDhclientFiles(const ScratchDir &dir, Setup setup, const QByteArray &hostName);
// dhclient with `options` on eth0, verbose, with its script, configuration, lease and pid
// files in `dir`.
QStringList dhclientCommand(const ScratchDir &dir, const QStringList &options);

// The fields of one report line.
QMap<QByteArray, QByteArray> fields(const QByteArray &line);
// True when `address` lies in first..last, both included.
bool inRange(const QByteArray &address, const QString &first, const QString &last);

} // namespace DhcpClients
