// SPDX-License-Identifier: GPL-3.0-or-later
// Test fixture: addresses, a clock driven by its own tick, and flows walked through a PortTable.
#pragma once

#include "app/uptime.h"
#include "engine/porttable.h"

#include <QStringList>
#include <QtEndian>
#include <QtTest>

namespace natflows {

inline quint32 ipv4(quint8 a, quint8 b, quint8 c, quint8 d)
{
    return qToBigEndian(quint32(a) << 24 | quint32(b) << 16 | quint32(c) << 8 | d);
}

inline quint32 client(quint8 host)
{
    return ipv4(192, 168, 51, host);
}

inline quint32 remote(quint8 host)
{
    return ipv4(203, 0, 113, host);
}

inline quint16 port(quint16 hostOrder)
{
    return qToBigEndian(hostOrder);
}

// Advances the clock by whole seconds through its own tick slot.
inline void tick(UpTime &clock, int seconds = 1)
{
    for (int i = 0; i < seconds; ++i)
        QVERIFY(QMetaObject::invokeMethod(&clock, "timeout"));
}

inline PortKey dynamicKey(quint32 privateAddress, quint16 privatePort, quint32 remoteAddress,
                          quint16 remotePort)
{
    PortKey key;
    key.privateAddress = privateAddress;
    key.privatePort = port(privatePort);
    key.remoteAddress = remoteAddress;
    key.remotePort = port(remotePort);
    return key;
}

// One client endpoint talking to one remote endpoint, walked through a path of packets.
//
// A path is a list of steps separated by spaces: "s" adds a static mapping of the client's
// port to the same external port (remote any) first; "oXX" sends an outbound packet with
// TCP flags XX (hex), "iXX" an inbound one. Every packet must be translated; a client port
// of 10000 or more is expected to be mapped to itself.
struct Flow {
    PortTable &table;
    quint32 clientAddress = client(10);
    quint16 clientPort = 40000;
    quint32 remoteAddress = remote(7);
    quint16 remotePort = 443;
    quint32 length = 60;

    PortKey key() const { return dynamicKey(clientAddress, clientPort, remoteAddress, remotePort); }

    bool out(quint8 flags)
    {
        const std::optional<quint16> external = table.translateOutbound(
            clientAddress, port(clientPort), remoteAddress, port(remotePort), length, flags);
        return external && *external == clientPort;
    }

    bool in(quint8 flags)
    {
        const std::optional<PortKey> found = table.translateInbound(
            clientPort, remoteAddress, port(remotePort), length, flags);
        return found && found->privateAddress == clientAddress
            && found->privatePort == port(clientPort);
    }

    bool addStatic()
    {
        return table.addStaticMapping(qFromBigEndian(clientAddress), clientPort, 0, clientPort);
    }

    // Runs the path; false at the first step that is not translated.
    bool walk(const QString &path)
    {
        for (const QString &step : path.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (step == QLatin1String("s")) {
                if (!addStatic())
                    return false;
                continue;
            }
            bool ok = false;
            const quint8 flags = quint8(step.mid(1).toUInt(&ok, 16));
            if (!ok || !(step.startsWith(QLatin1Char('o')) ? out(flags) : in(flags)))
                return false;
        }
        return true;
    }

    quint8 state() const
    {
        const std::optional<PortEntry> found = table.entry(key());
        return found ? found->state : 0;
    }
};

} // namespace natflows
