// SPDX-License-Identifier: GPL-3.0-or-later
// EnginePair: configures, starts and stops the public and the private engine thread.
#include "engine/enginepair.h"

#include "engine/bridgeforwarder.h"
#include "engine/ndisengine.h"
#include "engine/routerforwarder.h"

EnginePair::EnginePair(ARPTable *users, NATService *translator, UpTime *clock,
                       ForwarderFactory forwarders)
    : m_users(users)
    , m_translator(translator)
    , m_clock(clock)
    , m_forwarders(std::move(forwarders))
{
}

EnginePair::~EnginePair()
{
    stop();
}

// Router mode translates (RouterForwarder); bridge mode joins the two sides into one
// layer-2 segment (BridgeForwarder).
ForwarderFactory EnginePair::modeForwarders()
{
    return [](const ForwarderContext &context) {
        return context.mode == 0 ? RouterForwarder::create(context)
                                 : BridgeForwarder::create(context);
    };
}

void EnginePair::setMode(int mode)
{
    m_mode = mode;
}

void EnginePair::setPublicAddress(const QHostAddress &address)
{
    m_publicAddress = address;
}

void EnginePair::setPrivateAddress(const QHostAddress &address)
{
    m_privateAddress = address;
}

void EnginePair::setPublicInterface(const NetworkInterface &interface)
{
    m_publicInterface = interface;
}

void EnginePair::setPrivateInterface(const NetworkInterface &interface)
{
    m_privateInterface = interface;
}

void EnginePair::start()
{
    if (!m_engines.empty())
        stop();
    m_engines.push_back(std::make_unique<NDISEngine>(
        m_mode, m_publicAddress, m_privateAddress, m_publicInterface, m_privateInterface, 0,
        m_users, &m_proxy, m_translator, m_clock, m_forwarders));
    m_engines.push_back(std::make_unique<NDISEngine>(
        m_mode, m_privateAddress, m_publicAddress, m_privateInterface, m_publicInterface, 1,
        m_users, &m_proxy, m_translator, m_clock, m_forwarders));
    for (const auto &engine : m_engines)
        engine->start(QThread::InheritPriority);
}

void EnginePair::stop()
{
    while (!m_engines.empty()) {
        std::unique_ptr<NDISEngine> engine = std::move(m_engines.front());
        m_engines.erase(m_engines.begin());
        engine->requestStop();
        engine->wait();
    }
}
