// SPDX-License-Identifier: GPL-3.0-or-later
// SpotWorker: life cycle, waits, the stop sequence and the supervision of a run.
#include "spot/spotworker.h"

#include "app/uptime.h"
#include "engine/arptable.h"
#include "engine/dhcpserver.h"
#include "engine/enginepair.h"
#include "engine/natservice.h"
#include "engine/ndisengine.h"
#include "spot/interfaceoffer.h"
#include "upnp/upnpservice.h"

#include <QEventLoop>
#include <QTimer>

namespace {

constexpr int kRefreshMs = 5000;

} // namespace

SpotWorker::SpotWorker(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<SpotWorker::State>("SpotWorker::State");
    qRegisterMetaType<SpotWorker::Event>("SpotWorker::Event");
    qRegisterMetaType<SpotWorker::Error>("SpotWorker::Error");
    NetworkInterface::registerMetaType();
}

SpotWorker::~SpotWorker() = default;

bool SpotWorker::isRunning(const NetworkInterface &interface)
{
    return interface.flags().testFlag(QNetworkInterface::IsRunning);
}

bool SpotWorker::holdsAddress(const NetworkInterface &interface, const QHostAddress &address)
{
    for (const QNetworkAddressEntry &entry : interface.addressEntries(QAbstractSocket::IPv4Protocol))
        if (entry.ip() == address)
            return true;
    return false;
}

QList<NetworkInterface> SpotWorker::interfaces() const
{
    std::lock_guard<std::mutex> lock(m_interfacesMutex);
    return m_interfaces;
}

void SpotWorker::init()
{
    if (m_uptime)
        return;
    createObjects();
    connectObjects();
    m_wyndlink->init();
    m_hostedNetwork->init();
    m_wifiConnect->init();
    m_refreshTimer->setInterval(kRefreshMs);
    m_refreshTimer->setSingleShot(true);
    refreshTimeout();
}

// In the order in which they depend on each other; none has a parent.
void SpotWorker::createObjects()
{
    m_uptime = std::make_unique<UpTime>();
    m_users = std::make_unique<ARPTable>(m_uptime.get());
    m_nat = std::make_unique<NATService>(m_uptime.get());
    m_dhcp = std::make_unique<DHCPServer>(m_users.get(), m_uptime.get());
    m_engines = std::make_unique<EnginePair>(m_users.get(), m_nat.get(), m_uptime.get());
    m_upnp = std::make_unique<UPnPService>(m_users.get(), m_nat.get(), m_uptime.get());
    m_wyndlink = std::make_unique<Wyndlink>();
    m_hostedNetwork = std::make_unique<WiFiHostedNetwork>();
    m_wifiConnect = std::make_unique<WiFiConnect>();
    m_refreshTimer = std::make_unique<QTimer>();
    m_waitTimer = std::make_unique<QTimer>();
    m_waitTimer->setSingleShot(true);
    m_loop = std::make_unique<QEventLoop>();
}

void SpotWorker::connectObjects()
{
    connect(m_wyndlink.get(), &Wyndlink::stateChanged, this, &SpotWorker::wyndlinkStateChanged);
    connect(m_hostedNetwork.get(), &WiFiHostedNetwork::stateChanged, this,
            &SpotWorker::wifiHostedNetworkStateChanged);
    connect(m_wifiConnect.get(), &WiFiConnect::stateChanged, this, &SpotWorker::wifiConnectStateChanged);
    connect(m_wifiConnect.get(), &WiFiConnect::interfacesChanged, this, &SpotWorker::wifiConnectInterfacesChanged);
    connect(m_wifiConnect.get(), &WiFiConnect::networksChanged, this, &SpotWorker::wifiConnectNetworksChanged);
    connect(m_refreshTimer.get(), &QTimer::timeout, this, &SpotWorker::refreshTimeout);
    connect(m_waitTimer.get(), &QTimer::timeout, this, &SpotWorker::timeout);
}

// Called once, with sharing stopped. Should it arrive while a start waits, the wait is
// aborted and the objects go once the start routine has unwound.
void SpotWorker::close()
{
    if (!m_uptime)
        return;
    if (m_loop->isRunning()) {
        m_closePending = true;
        wake(AbortWake);
        return;
    }
    m_closePending = false;
    m_refreshTimer->stop();
    m_waitTimer->stop();
    m_wyndlink->close();
    m_hostedNetwork->close();
    m_wifiConnect->close();
    m_upnp.reset();
    m_engines.reset();
    m_dhcp.reset();
    m_nat.reset();
    m_users.reset();
    m_uptime.reset();
    m_wyndlink.reset();
    m_hostedNetwork.reset();
    m_wifiConnect.reset();
    m_refreshTimer.reset();
    m_waitTimer.reset();
    m_loop.reset();
}

void SpotWorker::finishDeferredClose()
{
    if (m_closePending && !m_loop->isRunning())
        close();
}

void SpotWorker::setState(State state)
{
    if (m_state.exchange(state) != state)
        emit stateChanged(state);
}

int SpotWorker::wait()
{
    return m_loop->exec();
}

bool SpotWorker::waitOneSecond()
{
    m_waitTimer->start(1000);
    int code = wait();
    while (code != AbortWake && code != TimeoutWake)
        code = wait();
    m_waitTimer->stop();
    return code == TimeoutWake;
}

bool SpotWorker::waitUntilUp(const std::function<int()> &stateOf)
{
    if (stateOf() == 1)
        return true;
    for (;;) {
        const int code = wait();
        if (code == StateWake)
            return true;
        if (code == AbortWake)
            return false;
    }
}

void SpotWorker::wake(int code)
{
    if (m_loop && m_loop->isRunning())
        m_loop->exit(code);
}

void SpotWorker::stop()
{
    if (!m_uptime || state() == Stopping || state() == Stopped)
        return;
    if (m_loop->isRunning()) {
        wake(AbortWake);
        return;
    }
    setState(Stopping);
    if (m_config.sharing)
        stopInternetSharing();
    if (m_config.mode == SharingConfig::Router) {
        if (m_config.dhcpEnabled)
            m_dhcp->close();
        removePrivateAddress();
    }
    stopPrivateSide();
    m_users->clear();
    m_uptime->stop();
    m_privateKnown = false;
    setState(Stopped);
}

void SpotWorker::stopInternetSharing()
{
    if (m_config.upnpEnabled || m_config.mode == SharingConfig::Bridge)
        m_upnp->stop();
    m_engines->stop();
    if (m_config.mode == SharingConfig::Router)
        m_nat->stop();
}

// Only an address this run put there (or adopted) is taken away again; one that the host
// had before a start that failed early stays.
void SpotWorker::removePrivateAddress()
{
    if (!m_addressInstalled)
        return;
    m_privateInterface.removeAddress(m_config.networkAddress);
    m_addressInstalled = false;
}

void SpotWorker::stopPrivateSide()
{
    if (m_kind == DirectAccessPoint)
        m_wyndlink->stop();
    else if (m_kind == HostedNetwork)
        m_hostedNetwork->stop();
    else if (m_kind == AdHocNetwork)
        m_wifiConnect->disconnect();
    if (m_config.repeater)
        m_wifiConnect->disconnect();
}

// An access point or client connection that this run does not use never stops it.
void SpotWorker::accessPointState(int value, bool inUse)
{
    if (!inUse || state() == Stopped)
        return;
    if (value == 1)
        wake(StateWake);
    else if (value == 3)
        stop();
}

void SpotWorker::wyndlinkStateChanged(Wyndlink::State state)
{
    accessPointState(state, m_kind == DirectAccessPoint);
}

void SpotWorker::wifiHostedNetworkStateChanged(WiFiHostedNetwork::State state)
{
    accessPointState(state, m_kind == HostedNetwork);
}

void SpotWorker::wifiConnectStateChanged(WiFiConnect::State state)
{
    accessPointState(state, m_kind == AdHocNetwork || m_config.repeater);
}

void SpotWorker::wifiConnectNetworksChanged(NetworkInterface interface)
{
    if (m_wifiConnect->state() == WiFiConnect::NetworkNotFound
        && interface.index() == m_wifiConnect->interface().index())
        wake(NetworksWake);
}

void SpotWorker::wifiConnectInterfacesChanged()
{
    refreshTimeout();
}

void SpotWorker::timeout()
{
    wake(TimeoutWake);
}

void SpotWorker::refreshTimeout()
{
    if (!m_uptime)
        return;
    const QList<NetworkInterface> filterable = NDISEngine::boundInterfaces();
    const QList<NetworkInterface> offered = InterfaceOffer::build(filterable, m_wifiConnect->interfaces());
    const bool direct = InterfaceOffer::hasDirectAdapter(filterable);
    if (direct != m_wyndlink->isAvailable())
        m_wyndlink->setAvailable(direct);
    if (InterfaceOffer::differs(interfaces(), offered)) {
        {
            std::lock_guard<std::mutex> lock(m_interfacesMutex);
            m_interfaces = offered;
        }
        emit interfacesChanged();
    }
    m_refreshTimer->start();
    if (state() != Stopped)
        supervise(filterable, offered);
}

// The private side is checked once this run knows it (for an access point: once it runs).
void SpotWorker::supervise(const QList<NetworkInterface> &filterable, const QList<NetworkInterface> &offered)
{
    if (m_kind != HostedNetwork && m_privateKnown) {
        m_privateInterface.refresh(filterable);
        if (!m_privateInterface.isValid() || (state() == Started && !isRunning(m_privateInterface))) {
            stop();
            return;
        }
    }
    if (state() != Started || !m_config.sharing)
        return;
    m_publicInterface.refresh(offered);
    if (isRunning(m_publicInterface) && holdsAddress(m_publicInterface, m_publicAddress))
        return;
    restartInternetSharing();
}

void SpotWorker::restartInternetSharing()
{
    setState(Restarting);
    m_upnp->client()->stop();
    stopInternetSharing();
    if (startInternetSharing())
        setState(Started);
    else
        stop();
    finishDeferredClose();
}
