// SPDX-License-Identifier: GPL-3.0-or-later
// UPnPClient: the control point of the upstream router's UPnP gateway.
#pragma once

#include <QHostAddress>
#include <QObject>

// The upstream search, description and port mapping requests are not built yet: start()
// finds nothing and the client never becomes connected, so no mapping is mirrored upstream.
class UPnPClient : public QObject
{
    Q_OBJECT
public:
    explicit UPnPClient(QObject *parent = nullptr);

    void setLocalAddress(const QHostAddress &address) { m_localAddress = address; }
    // Starts nothing for now; reports success so that sharing runs without it.
    bool start();
    void stop();
    bool isConnected() const { return false; }

signals:
    void remoteAddressChanged();
    void controlEntriesChanged();

private:
    QHostAddress m_localAddress;
};
