// SPDX-License-Identifier: GPL-3.0-or-later
// Probe: runs one host network operation inside a lab host and prints the result as JSON.
#include "spot/networkinterface.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

// Commands:
//   interfaces FILTER             the interfaces with that filter word
//   routes                        the IPv4 routing table
//   gateway NAME                  the default gateway of an interface
//   add NAME ADDRESS MASK         add an address (printed: added, context)
//   remove NAME ADDRESS           remove with a fresh value (the host's own list)
//   addvanish NAME ADDRESS MASK   add, refresh against an empty list, then remove
//   arp NAME TARGET               resolve on the interface
//   arproute TARGET               resolve on the interface the routing table picks
namespace {

QJsonObject describe(const NetworkInterface &i)
{
    QJsonArray dns;
    for (const QHostAddress &a : i.dnsServers())
        dns.append(a.toString());
    QJsonArray addresses;
    for (const QNetworkAddressEntry &e : i.addressEntries(QAbstractSocket::IPv4Protocol))
        addresses.append(e.ip().toString() + '/' + QString::number(e.prefixLength()));
    return QJsonObject{{"valid", i.isValid()}, {"index", i.index()}, {"type", i.type()}, {"name", i.name()},
                       {"description", i.description()}, {"mac", i.hardwareAddress()},
                       {"running", bool(i.flags() & QNetworkInterface::IsRunning)}, {"dns", dns},
                       {"ipv4", addresses}, {"added", i.addedAddresses().size()}};
}

NetworkInterface byName(const QString &name)
{
    return NetworkInterface::findByName(name, NetworkInterface::interfaces(NetworkInterface::EthernetAndWireless));
}

QJsonValue run(const QStringList &a)
{
    const QString command = a.value(0);
    if (command == "interfaces" && a.size() == 2) {
        QJsonArray list;
        for (const NetworkInterface &i : NetworkInterface::interfaces(a[1].toUInt()))
            list.append(describe(i));
        return list;
    }
    if (command == "routes") {
        QJsonArray rows;
        for (const Route &r : NetworkInterface::routes())
            rows.append(QJsonObject{{"destination", r.destination.toString()}, {"mask", r.mask.toString()},
                                    {"nextHop", r.nextHop.toString()}, {"interface", r.interface.name()},
                                    {"metric", double(r.metric)}});
        return rows;
    }
    if (command == "gateway" && a.size() == 2) {
        const NetworkInterface i = byName(a[1]);
        return QJsonObject{{"gateway", i.gateway().toString()}, {"rows", NetworkInterface::routes(i).size()}};
    }
    if (command == "add" && a.size() == 4) {
        NetworkInterface i = byName(a[1]);
        const bool added = i.addAddress(QHostAddress(a[2]), QHostAddress(a[3]));
        return QJsonObject{{"added", added}, {"stored", i.addedAddresses().size()}};
    }
    if (command == "remove" && a.size() == 3)
        return QJsonObject{{"removed", byName(a[1]).removeAddress(QHostAddress(a[2]))}};
    if (command == "addvanish" && a.size() == 4) {
        NetworkInterface i = byName(a[1]);
        const int index = i.index();
        const bool added = i.addAddress(QHostAddress(a[2]), QHostAddress(a[3]));
        i.refresh({});
        QJsonObject out{{"added", added}, {"indexBefore", index}, {"after", describe(i)}};
        out["removed"] = i.removeAddress(QHostAddress(a[2]));
        out["removedAgain"] = i.removeAddress(QHostAddress(a[2]));
        return out;
    }
    if ((command == "arp" && a.size() == 3) || (command == "arproute" && a.size() == 2)) {
        const QHostAddress target(a.last());
        QElapsedTimer clock;
        clock.start();
        const QByteArray mac = command == "arp"
            ? platform::resolveHardwareAddress(byName(a[1]).index(), target.toIPv4Address())
            : platform::resolveHardwareAddress(target.toIPv4Address());
        return QJsonObject{{"mac", QString::fromLatin1(mac.toHex(':'))}, {"ms", double(clock.elapsed())}};
    }
    return QJsonValue();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QJsonValue result = run(app.arguments().mid(1));
    if (result.isUndefined() || result.isNull()) {
        std::fprintf(stderr, "unknown command\n");
        return 2;
    }
    const QJsonDocument doc = result.isArray() ? QJsonDocument(result.toArray()) : QJsonDocument(result.toObject());
    std::fputs(doc.toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    return 0;
}
