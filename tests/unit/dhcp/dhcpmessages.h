// SPDX-License-Identifier: GPL-3.0-or-later
// Test helpers: client DHCP messages built field by field, server replies taken apart, set-up.
#pragma once

#include "engine/dhcpoptions.h"
#include "engine/dhcpprotocol.h"
#include "engine/dhcpresponder.h"

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QtEndian>
#include <optional>

inline quint32 ip(const char *text)
{
    return QHostAddress(QString::fromLatin1(text)).toIPv4Address();
}

inline QByteArray be32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian<quint32>(value, bytes.data());
    return bytes;
}

// A client message; the options are written in the order given here, then `extraOptions`
// (raw bytes), then the end option unless `extraOptions` says otherwise.
struct ClientMessage {
    quint8 type = Dhcp::kDiscover;
    QByteArray mac = QByteArray::fromHex("02aa00000001");
    quint32 xid = 0x1234abcd;
    quint32 ciaddr = 0;
    std::optional<quint32> requested;
    std::optional<quint32> serverId;
    QByteArray hostName;
    QByteArray extraOptions;
    bool endOption = true;

    QByteArray bytes() const
    {
        QByteArray fixed(int(Dhcp::kFixedSize), '\0');
        fixed[int(Dhcp::kOp)] = char(Dhcp::kOpRequest);
        fixed[int(Dhcp::kHardwareType)] = 1;
        fixed[int(Dhcp::kHardwareLength)] = char(mac.size());
        fixed.replace(int(Dhcp::kTransactionId), 4, be32(xid));
        fixed.replace(int(Dhcp::kClientAddress), 4, be32(ciaddr));
        fixed.replace(int(Dhcp::kClientHardwareAddress), mac.size(), mac.left(16));
        fixed.replace(int(Dhcp::kMagicCookie), 4, be32(Dhcp::kMagicCookieValue));
        QByteArray options;
        options.append(char(Dhcp::kOptionMessageType)).append(char(1)).append(char(type));
        if (requested)
            options.append(char(Dhcp::kOptionRequestedAddress)).append(char(4)).append(be32(*requested));
        if (serverId)
            options.append(char(Dhcp::kOptionServerIdentifier)).append(char(4)).append(be32(*serverId));
        if (!hostName.isEmpty())
            options.append(char(Dhcp::kOptionHostName)).append(char(hostName.size())).append(hostName);
        options.append(extraOptions);
        if (endOption)
            options.append(char(Dhcp::kOptionEnd));
        return fixed + options;
    }
};

// A server reply taken apart; `valid` is false when it is not even a fixed part.
struct ServerReply {
    bool valid = false;
    int size = 0;
    quint8 op = 0;
    quint8 type = 0;
    quint32 xid = 0;
    quint32 ciaddr = 0;
    quint32 yiaddr = 0;
    quint32 cookie = 0;
    QByteArray chaddr;
    DhcpOptions options;

    static ServerReply of(const QByteArray &bytes)
    {
        ServerReply reply;
        if (bytes.size() < int(Dhcp::kFixedSize))
            return reply;
        const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
        reply.valid = true;
        reply.size = bytes.size();
        reply.op = data[Dhcp::kOp];
        reply.xid = qFromBigEndian<quint32>(data + Dhcp::kTransactionId);
        reply.ciaddr = qFromBigEndian<quint32>(data + Dhcp::kClientAddress);
        reply.yiaddr = qFromBigEndian<quint32>(data + Dhcp::kYourAddress);
        reply.cookie = qFromBigEndian<quint32>(data + Dhcp::kMagicCookie);
        reply.chaddr = bytes.mid(int(Dhcp::kClientHardwareAddress), int(Dhcp::kClientHardwareSize));
        reply.options = DhcpOptionCodec::parse(bytes.mid(int(Dhcp::kFixedSize)));
        reply.type = quint8(reply.options.value(Dhcp::kOptionMessageType).leftJustified(1, '\0').at(0));
        return reply;
    }
    // An address or lease option as a number; -1 when absent or not four bytes.
    qint64 number(quint8 code) const
    {
        const QByteArray value = options.value(code);
        return value.size() == 4 ? qint64(qFromBigEndian<quint32>(value.constData())) : -1;
    }
};

// Shared set-up of the responder tests.
inline const QByteArray kIgnoredMac = QByteArray::fromHex("02ffffffffff");

// A golden datagram: hex bytes, lines starting with '#' are comments.
inline QByteArray golden(const char *name)
{
    QFile file(QStringLiteral(TARNWICK_TEST_DATA "/dhcp/%1.hex").arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray hex;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.startsWith('#'))
            hex += line;
    }
    return QByteArray::fromHex(hex);
}

inline QByteArray macOf(int client)
{
    return QByteArray::fromHex("02aa000000") + QByteArray(1, char(client));
}

// Configured as the spot worker does it, with a pool that tests may narrow.
inline void configure(DHCPResponder &responder, const char *first = "192.168.51.10",
                      const char *last = "192.168.51.50")
{
    responder.setServerAddress(ip("192.168.51.1"));
    responder.setRouter(ip("192.168.51.1"), ip("255.255.255.0"));
    responder.setDnsServer(ip("192.168.51.1"));
    responder.setRange(ip(first), ip(last));
    responder.setLeaseTime(3600);
    responder.setIgnoredMac(kIgnoredMac);
}

inline ClientMessage message(quint8 type, int client)
{
    ClientMessage m;
    m.type = type;
    m.mac = macOf(client);
    return m;
}

// DISCOVER then a SELECTING request for the offered address; the bound address.
inline quint32 bindClient(DHCPResponder &responder, int client, quint32 now)
{
    const ServerReply offer =
        ServerReply::of(responder.handle(message(Dhcp::kDiscover, client).bytes(), now).reply);
    ClientMessage select = message(Dhcp::kRequest, client);
    select.serverId = ip("192.168.51.1");
    select.requested = offer.yiaddr;
    const ServerReply ack = ServerReply::of(responder.handle(select.bytes(), now).reply);
    return ack.type == Dhcp::kAck ? ack.yiaddr : 0;
}
