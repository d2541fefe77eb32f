// SPDX-License-Identifier: GPL-3.0-or-later
// DHCPServer: the socket side of the hotspot's DHCP service.
#include "engine/dhcpserver.h"

#include "app/uptime.h"
#include "engine/arptable.h"
#include "engine/dhcpoptions.h"
#include "engine/userrecord.h"
#include "platform/broadcastsocket.h"

#include <QtEndian>

DHCPServer::DHCPServer(ARPTable *users, UpTime *clock, QObject *parent)
    : QObject(parent), m_users(users), m_clock(clock)
{
}

DHCPServer::~DHCPServer() = default;

void DHCPServer::setServerAddress(const QHostAddress &address)
{
    m_serverAddress = address;
    m_responder.setServerAddress(address.toIPv4Address());
}

void DHCPServer::setRouter(const QHostAddress &router, const QHostAddress &mask)
{
    m_responder.setRouter(router.toIPv4Address(), mask.toIPv4Address());
}

void DHCPServer::setDnsServer(const QHostAddress &address)
{
    m_responder.setDnsServer(address.toIPv4Address());
}

void DHCPServer::setRange(const QHostAddress &first, const QHostAddress &last)
{
    m_responder.setRange(first.toIPv4Address(), last.toIPv4Address());
}

void DHCPServer::setLeaseTime(int seconds)
{
    m_responder.setLeaseTime(seconds);
}

void DHCPServer::setIgnoredMac(const QByteArray &mac)
{
    m_responder.setIgnoredMac(mac);
}

bool DHCPServer::bind()
{
    close();
    if (m_serverAddress.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    auto socket = std::make_unique<BroadcastSocket>();
    if (!socket->bind(m_serverAddress, Dhcp::kServerPort))
        return false;
    connect(socket.get(), &BroadcastSocket::readyRead, this, &DHCPServer::socketReadyRead);
    m_socket = std::move(socket);
    return true;
}

void DHCPServer::close()
{
    m_socket.reset();
}

bool DHCPServer::isBound() const
{
    return m_socket != nullptr;
}

DhcpOptions DHCPServer::parseOptions(const QByteArray &bytes)
{
    return DhcpOptionCodec::parse(bytes);
}

QByteArray DHCPServer::buildOptions(const DhcpOptions &options)
{
    return DhcpOptionCodec::build(options);
}

void DHCPServer::socketReadyRead()
{
    while (m_socket) {
        const std::optional<BroadcastSocket::Datagram> datagram = m_socket->receive();
        if (!datagram)
            break;
        const DHCPResponder::Outcome outcome = m_responder.handle(datagram->data, m_clock->seconds());
        if (!outcome.reply.isEmpty())
            m_socket->send(outcome.reply, QHostAddress(outcome.destination), Dhcp::kClientPort);
        apply(outcome);
    }
}

void DHCPServer::apply(const DHCPResponder::Outcome &outcome)
{
    for (const DHCPResponder::UserChange &change : outcome.userChanges) {
        const quint32 address = qToBigEndian<quint32>(change.address);
        if (change.kind == DHCPResponder::UserChange::Remove) {
            m_users->remove(address);
            continue;
        }
        UserRecord record;
        record.origin = UserFromDhcp;
        record.mac = change.mac;
        record.hostName = change.hostName;
        m_users->add(address, record);
    }
}
