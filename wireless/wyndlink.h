// SPDX-License-Identifier: GPL-3.0-or-later
// Wyndlink: the program's side of the Wi-Fi Direct legacy access point.
#pragma once

#include "spot/networkinterface.h"

#include <QObject>
#include <QString>

// The companion library that runs the Wi-Fi Direct access point does not exist yet. Until
// it does, init() fails, so setAvailable() can never make the object available and
// start() refuses; the spot worker then falls back to the hosted network.
class Wyndlink : public QObject
{
    Q_OBJECT
public:
    enum State { Starting = 0, Started = 1, Stopping = 2, Stopped = 3 };
    Q_ENUM(State)

    explicit Wyndlink(QObject *parent = nullptr);

    // Binds the companion library; false while there is none.
    bool init();
    void close();

    void setNetworkName(const QString &name) { m_networkName = name; }
    void setNetworkKey(const QString &key) { m_networkKey = key; }

    bool start();
    void stop();

    State state() const { return m_state; }
    bool isAvailable() const { return m_available; }
    // Set by the spot worker when it sees a Wi-Fi Direct adapter; true only with a bound
    // library.
    void setAvailable(bool available);
    NetworkInterface networkInterface() const { return {}; }

signals:
    void stateChanged(Wyndlink::State state);
    void availableChanged(bool available);

private:
    QString m_networkName;
    QString m_networkKey;
    State m_state = Stopped;
    bool m_available = false;
    bool m_loaded = false;
};
