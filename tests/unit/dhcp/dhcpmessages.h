// SPDX-License-Identifier: GPL-3.0-or-later
// Test helpers: client DHCP messages built field by field, and server replies taken apart.
#pragma once

#include "engine/dhcpoptions.h"
#include "engine/dhcpprotocol.h"

#include <QByteArray>
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
