// SPDX-License-Identifier: GPL-3.0-or-later
// EnginePair: configures, starts and stops the public and the private engine thread.
#pragma once

#include "engine/arpproxy.h"
#include "engine/forwarder.h"
#include "spot/networkinterface.h"

#include <QHostAddress>
#include <memory>
#include <vector>

class NDISEngine;

// start() always restarts both threads with the configuration held at that moment; stop()
// joins and destroys them and leaves the configuration in place. The proxy table lives as
// long as the pair and is shared by both engines.
class EnginePair
{
public:
    // The forwarders decide every frame; by default those of the pair's mode.
    EnginePair(ARPTable *users, NATService *translator, UpTime *clock,
               ForwarderFactory forwarders = modeForwarders());
    ~EnginePair();
    EnginePair(const EnginePair &) = delete;
    EnginePair &operator=(const EnginePair &) = delete;

    void setMode(int mode); // 0 router, 1 bridge
    void setPublicAddress(const QHostAddress &address);
    void setPrivateAddress(const QHostAddress &address);
    void setPublicInterface(const NetworkInterface &interface);
    void setPrivateInterface(const NetworkInterface &interface);

    void start();
    void stop();

    bool isRunning() const { return !m_engines.empty(); }
    ARPProxy *proxy() { return &m_proxy; }

    // The forwarders of the two modes.
    static ForwarderFactory modeForwarders();

private:
    ARPTable *const m_users;
    NATService *const m_translator;
    UpTime *const m_clock;
    const ForwarderFactory m_forwarders;
    ARPProxy m_proxy;
    int m_mode = 0;
    QHostAddress m_publicAddress;
    QHostAddress m_privateAddress;
    NetworkInterface m_publicInterface;
    NetworkInterface m_privateInterface;
    std::vector<std::unique_ptr<NDISEngine>> m_engines; // public engine first
};
