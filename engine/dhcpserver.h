// SPDX-License-Identifier: GPL-3.0-or-later
// DHCPServer: hands out hotspot addresses from the pool and records acknowledged clients.
#pragma once

#include "engine/dhcpprotocol.h"
#include "engine/dhcpresponder.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <memory>

class ARPTable;
class BroadcastSocket;
class UpTime;

// Lives in the spot worker's thread. The worker configures it (server, router and DNS all
// the gateway address, the pool, lease time 3600, the hotspot adapter's own MAC ignored) and
// then calls bind(); close() ends listening. The lease table survives close() and bind()
// for as long as the object lives. Every decision is the responder's; this class only moves
// datagrams between the socket and the responder and applies the user table changes.
class DHCPServer : public QObject
{
    Q_OBJECT
public:
    DHCPServer(ARPTable *users, UpTime *clock, QObject *parent = nullptr);
    ~DHCPServer() override;

    void setServerAddress(const QHostAddress &address);
    void setRouter(const QHostAddress &router, const QHostAddress &mask);
    void setDnsServer(const QHostAddress &address);
    void setRange(const QHostAddress &first, const QHostAddress &last);
    void setLeaseTime(int seconds);
    void setIgnoredMac(const QByteArray &mac);

    // Listens on UDP port 67 of the interface that holds the server address (client
    // broadcasts included); replies leave from the server address. False when the address
    // is not set or not on any interface, or the port cannot be had. Rebinding closes first.
    bool bind();
    // Stops listening; the leases stay.
    void close();
    bool isBound() const;

    // The option codec, shared with the bridge's DHCP snooping.
    static DhcpOptions parseOptions(const QByteArray &bytes);
    static QByteArray buildOptions(const DhcpOptions &options);

private slots:
    void socketReadyRead();

private:
    void apply(const DHCPResponder::Outcome &outcome);

    ARPTable *m_users;
    UpTime *m_clock;
    DHCPResponder m_responder;
    QHostAddress m_serverAddress;
    std::unique_ptr<BroadcastSocket> m_socket;
};
