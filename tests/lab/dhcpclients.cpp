// SPDX-License-Identifier: GPL-3.0-or-later
// Real DHCP clients in lab hosts: busybox udhcpc and ISC dhclient, their scripts and reports.
#include "tests/lab/dhcpclients.h"

#include "tests/lab/scratchdir.h"

#include <QHostAddress>

namespace DhcpClients {

QByteArray udhcpcScript(Setup setup)
{
    QByteArray script = "#!/bin/sh\n"
                        "echo \"event=$1 ip=$ip subnet=$subnet router=$router dns=$dns lease=$lease "
                        "serverid=$serverid\"\n";
    if (setup != Setup::None) {
        script += "case \"$1\" in bound|renew)\n"
                  "  ip addr replace \"$ip/$mask\" dev \"$interface\"\n";
        if (setup == Setup::AddressAndRoute)
            script += "  ip route replace default via \"$router\"\n";
        script += "  ;;\nesac\n";
    }
    return script + "exit 0\n";
}

QByteArray dhclientScript(Setup setup)
{
    QByteArray script = "#!/bin/sh\n"
                        "echo \"reason=$reason ip=$new_ip_address subnet=$new_subnet_mask router=$new_routers "
                        "dns=$new_domain_name_servers lease=$new_dhcp_lease_time "
                        "serverid=$new_dhcp_server_identifier\"\n";
    if (setup != Setup::None) {
        script += "case \"$reason\" in\n"
                  "BOUND|RENEW|REBIND|REBOOT)\n"
                  "  ip addr replace \"$new_ip_address/$new_subnet_mask\" dev \"$interface\"\n";
        if (setup == Setup::AddressAndRoute)
            script += "  ip route replace default via \"$new_routers\"\n";
        script += "  ;;\n"
                  "RELEASE|EXPIRE|STOP) ip addr flush dev \"$interface\" ;;\n"
                  "esac\n";
    }
    return script + "exit 0\n";
}

bool writeDhclientFiles(const ScratchDir &dir, Setup setup, const QByteArray &hostName)
{
    const QByteArray config = "send host-name \"" + hostName + "\";\n"
                              "request subnet-mask, routers, domain-name-servers, domain-name;\n"
                              "timeout 20;\n";
    return dir.write("dhclient.sh", dhclientScript(setup), true) && dir.write("dhclient.conf", config);
}

QStringList dhclientCommand(const ScratchDir &dir, const QStringList &options)
{
    return QStringList{"dhclient"} + options
        + QStringList{"-v", "-cf", dir.path("dhclient.conf"), "-sf", dir.path("dhclient.sh"),
                      "-lf", dir.path("dhclient.leases"), "-pf", dir.path("dhclient.pid"), "eth0"};
}

QMap<QByteArray, QByteArray> fields(const QByteArray &line)
{
    QMap<QByteArray, QByteArray> map;
    for (const QByteArray &part : line.split(' ')) {
        const int eq = part.indexOf('=');
        if (eq > 0)
            map.insert(part.left(eq), part.mid(eq + 1));
    }
    return map;
}

bool inRange(const QByteArray &address, const QString &first, const QString &last)
{
    bool valid = false;
    const quint32 a = QHostAddress(QString::fromLatin1(address)).toIPv4Address(&valid);
    return valid && a >= QHostAddress(first).toIPv4Address() && a <= QHostAddress(last).toIPv4Address();
}

} // namespace DhcpClients
