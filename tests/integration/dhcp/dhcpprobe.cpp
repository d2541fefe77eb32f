// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a DHCPServer as the spot worker sets it up and prints the user table on every change.
//
// Arguments: the MAC of the hotspot interface to ignore (hex). Prints "bound" once
// listening (or "bind failed" and exits 1), then one line per change of the user table:
// "users" followed by "address,mac,hostname" entries in address order. Ends on SIGTERM.
#include "app/uptime.h"
#include "engine/arptable.h"
#include "engine/dhcpserver.h"
#include "platform/quitsignals.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTextStream>
#include <QtEndian>
#include <algorithm>

namespace {

void printUsers(const ARPTable &users)
{
    const QHash<quint32, UserRecord> snapshot = users.users();
    QList<quint32> addresses = snapshot.keys();
    std::sort(addresses.begin(), addresses.end(), [](quint32 a, quint32 b) {
        return qFromBigEndian(a) < qFromBigEndian(b);
    });
    QTextStream out(stdout);
    out << "users";
    for (const quint32 address : addresses) {
        const UserRecord &user = snapshot[address];
        out << ' ' << QHostAddress(qFromBigEndian(address)).toString() << ','
            << user.mac.toHex() << ',' << QString::fromUtf8(user.hostName);
    }
    out << Qt::endl;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QuitSignals quit;
    QObject::connect(&quit, &QuitSignals::quitRequested, &app, &QCoreApplication::quit);

    UpTime clock;
    clock.start();
    ARPTable users(&clock);
    DHCPServer server(&users, &clock);
    const QHostAddress gateway(QStringLiteral("192.168.51.1"));
    server.setServerAddress(gateway);
    server.setRouter(gateway, QHostAddress(QStringLiteral("255.255.255.0")));
    server.setDnsServer(gateway);
    server.setRange(QHostAddress(QStringLiteral("192.168.51.10")),
                    QHostAddress(QStringLiteral("192.168.51.50")));
    server.setLeaseTime(3600);
    if (argc > 1)
        server.setIgnoredMac(QByteArray::fromHex(argv[1]));

    QTextStream out(stdout);
    if (!server.bind()) {
        out << "bind failed" << Qt::endl;
        return 1;
    }
    QObject::connect(&users, &ARPTable::changed, [&users] { printUsers(users); });
    out << "bound" << Qt::endl;
    const int code = app.exec();
    server.close();
    return code;
}
