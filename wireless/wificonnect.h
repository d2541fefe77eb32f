// SPDX-License-Identifier: GPL-3.0-or-later
// WiFiConnect: joins or creates a wireless network on one of the host's wireless adapters.
#pragma once

#include "spot/networkinterface.h"

#include <QList>
#include <QObject>
#include <QString>

// The WLAN client backend is not part of the program yet. Until it is, init() fails, the
// object knows no wireless adapters, connect() refuses and scan() does nothing, so the
// repeater and ad hoc networks cannot start.
class WiFiConnect : public QObject
{
    Q_OBJECT
public:
    // Connected = 1 means joined; Disconnected = 3 means failed or lost; NetworkNotFound = 4
    // means the network was not visible and a scan is under way.
    enum State { Connecting = 0, Connected = 1, Disconnecting = 2, Disconnected = 3, NetworkNotFound = 4 };
    Q_ENUM(State)
    enum Error { ConnectionError = 0 };
    Q_ENUM(Error)

    explicit WiFiConnect(QObject *parent = nullptr);

    bool init();
    void close();

    void setNetworkName(const QString &name) { m_networkName = name; }
    void setNetworkKey(const QString &key) { m_networkKey = key; }
    void setAdhoc(int adhoc) { m_adhoc = adhoc; }
    void setSecurity(int security) { m_security = security; }
    void setInterface(const NetworkInterface &interface) { m_interface = interface; }

    // These two hide QObject's static connect()/disconnect() inside this class; use the
    // qualified QObject:: forms there.
    bool connect();
    void disconnect();

    State state() const { return m_state; }
    NetworkInterface interface() const { return m_interface; }
    // The wireless adapters the WLAN service knows.
    QList<NetworkInterface> interfaces() const { return {}; }

public slots:
    bool scan(const NetworkInterface &interface);

signals:
    void stateChanged(WiFiConnect::State state);
    void interfacesChanged();
    void networksChanged(NetworkInterface interface);
    void error(WiFiConnect::Error error, uint code);

private:
    QString m_networkName;
    QString m_networkKey;
    int m_adhoc = 0;
    int m_security = 0;
    NetworkInterface m_interface;
    State m_state = Disconnected;
};
