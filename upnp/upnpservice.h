// SPDX-License-Identifier: GPL-3.0-or-later
// UPnPService: the one object through which the system uses UPnP.
#pragma once

#include "spot/networkinterface.h"
#include "upnp/upnpclient.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

class ARPTable;
class NATService;
class UpTime;

// The gateway device server, the SSDP responder and the upstream client are not built yet.
// Until they are, start() starts none of them and returns true, so that sharing runs with
// the default settings, and addPort()/removePort() fail with code -1: no UPnP party is
// available to take the request.
class UPnPService : public QObject
{
    Q_OBJECT
public:
    enum Error { AddPortError = 0, RemovePortError = 1 };
    Q_ENUM(Error)

    // Flag bits: 1 the upstream client, 2 the gateway device server.
    enum Flag { ClientFlag = 1, ServerFlag = 2 };

    UPnPService(ARPTable *users, NATService *translator, UpTime *clock, QObject *parent = nullptr);

    void setFlags(int flags) { m_flags = flags; }
    void setInternetAddress(const QHostAddress &address) { m_internetAddress = address; }
    void setLocalAddress(const QHostAddress &address) { m_localAddress = address; }
    void setLocalInterface(const NetworkInterface &interface) { m_localInterface = interface; }
    int flags() const { return m_flags; }

    bool start();
    // Safe in any state.
    void stop();

    UPnPClient *client() { return &m_client; }

public slots:
    bool addPort(const QHostAddress &remoteHost, quint16 externalPort, quint8 protocol, quint16 internalPort,
                 const QHostAddress &internalClient, bool enabled, const QString &description,
                 quint32 leaseDuration);
    bool removePort(const QHostAddress &remoteHost, quint16 externalPort, quint8 protocol);

signals:
    void remoteAddressChanged();
    void controlEntriesChanged();
    // `code` is a UPnP error code, or -1 when no UPnP party was available.
    void error(UPnPService::Error error, int code);

private:
    ARPTable *m_users;
    NATService *m_translator;
    UpTime *m_clock;
    int m_flags = ServerFlag;
    QHostAddress m_internetAddress;
    QHostAddress m_localAddress;
    NetworkInterface m_localInterface;
    UPnPClient m_client;
};
