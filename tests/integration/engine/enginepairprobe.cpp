// SPDX-License-Identifier: GPL-3.0-or-later
// Runs an engine pair whose frames all pass on two named interfaces until SIGTERM.
//
// enginepairprobe PUBLIC_IF PRIVATE_IF: prints "started" once both engines run and
// "stopped" after the stop sequence; exits 2 when an interface is unknown.
#include "app/uptime.h"
#include "engine/arptable.h"
#include "engine/enginepair.h"
#include "engine/passforwarder.h"
#include "platform/quitsignals.h"
#include "spot/networkinterface.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <cstdio>

namespace {

QHostAddress firstIPv4(const NetworkInterface &interface)
{
    const auto entries = interface.addressEntries(QAbstractSocket::IPv4Protocol);
    return entries.isEmpty() ? QHostAddress() : entries.first().ip();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QList<NetworkInterface> host = NetworkInterface::interfaces(255);
    const NetworkInterface pub = NetworkInterface::findByName(QString::fromLocal8Bit(argv[1]), host);
    const NetworkInterface priv = NetworkInterface::findByName(QString::fromLocal8Bit(argv[2]), host);
    if (!pub.isValid() || !priv.isValid())
        return 2;

    UpTime clock;
    ARPTable users(&clock);
    EnginePair pair(&users, nullptr, &clock, &PassForwarder::create);
    pair.setPublicInterface(pub);
    pair.setPrivateInterface(priv);
    pair.setPublicAddress(firstIPv4(pub));
    pair.setPrivateAddress(firstIPv4(priv));
    pair.start();
    std::printf("started\n");
    std::fflush(stdout);

    QuitSignals quit;
    QObject::connect(&quit, &QuitSignals::quitRequested, &app, &QCoreApplication::quit);
    app.exec();
    pair.stop();
    std::printf("stopped\n");
    std::fflush(stdout);
    return 0;
}
