// SPDX-License-Identifier: GPL-3.0-or-later
// WiFiHostedNetwork: the host's own access point run by the WLAN service.
#pragma once

#include "spot/networkinterface.h"

#include <QByteArray>
#include <QObject>

// The radio backend (the WLAN service substitute that speaks to wpa_supplicant) is not
// part of the program yet. Until it is, init() fails, the object is never available and
// start() refuses, so the spot worker treats the access point as missing.
class WiFiHostedNetwork : public QObject
{
    Q_OBJECT
public:
    // Started = 1 means up and Stopped = 3 means down, as for every access point.
    enum State { Starting = 0, Started = 1, Stopping = 2, Stopped = 3 };
    Q_ENUM(State)

    explicit WiFiHostedNetwork(QObject *parent = nullptr);

    // Loads the WLAN backend; false while there is none.
    bool init();
    void close();

    void setNetworkName(const QByteArray &name) { m_networkName = name; }
    void setNetworkKey(const QByteArray &key) { m_networkKey = key; }

    // False when the hosted network cannot start (always, for now).
    bool start();
    void stop();

    State state() const { return m_state; }
    bool isAvailable() const { return m_available; }
    // The virtual adapter of the running access point, or an empty value.
    NetworkInterface networkInterface() const { return {}; }

signals:
    void stateChanged(WiFiHostedNetwork::State state);
    void availableChanged(bool available);

private:
    QByteArray m_networkName;
    QByteArray m_networkKey;
    State m_state = Stopped;
    bool m_available = false;
};
