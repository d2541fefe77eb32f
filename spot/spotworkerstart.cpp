// SPDX-License-Identifier: GPL-3.0-or-later
// SpotWorker: the start sequence, from the settings to a running Internet side.
#include "spot/spotworker.h"

#include "app/uptime.h"
#include "engine/arptable.h"
#include "engine/dhcpserver.h"
#include "engine/enginepair.h"
#include "engine/natservice.h"
#include "upnp/upnpservice.h"

#include <QSettings>
#include <QUdpSocket>

namespace {

constexpr int kBindAttempts = 11;
constexpr int kLeaseSeconds = 3600;

QHostAddress firstIPv4(const NetworkInterface &interface)
{
    const QList<QNetworkAddressEntry> entries = interface.addressEntries(QAbstractSocket::IPv4Protocol);
    return entries.isEmpty() ? QHostAddress() : entries.first().ip();
}

QHostAddress firstDnsServer(const NetworkInterface &interface)
{
    const QList<QHostAddress> servers = interface.dnsServers();
    return servers.isEmpty() ? QHostAddress() : servers.first();
}

// The host's current view of one interface (the value's own entries are as old as it is).
NetworkInterface current(const NetworkInterface &interface)
{
    return NetworkInterface::find(interface.index(), NetworkInterface::interfaces(NetworkInterface::EthernetAndWireless));
}

} // namespace

void SpotWorker::start()
{
    if (!m_uptime || state() != Stopped)
        return;
    setState(Starting);
    const Outcome outcome = runStart();
    if (outcome != Outcome::Done) {
        stop();
        if (outcome == Outcome::ConfigurationFailed)
            emit error(ConfigurationError);
    }
    finishDeferredClose();
}

SpotWorker::Outcome SpotWorker::runStart()
{
    if (!readConfiguration())
        return Outcome::ConfigurationFailed;
    if (m_config.repeater && !connectRepeater())
        return Outcome::Failed;
    setState(ConfiguringSharing);
    if (!startPrivateSide())
        return Outcome::Failed;
    if (m_config.mode == SharingConfig::Router && !configurePrivateAddressing())
        return Outcome::Failed;
    setState(SharingConfigured);
    if (m_config.sharing && !startInternetSharing())
        return Outcome::Failed;
    m_uptime->start();
    m_users->start();
    setState(Started);
    return Outcome::Done;
}

bool SpotWorker::readConfiguration()
{
    const QSettings store;
    m_config = SharingConfig::read(store);
    m_kind = WiredInterface;
    m_addressInstalled = false;
    m_publicAddress = QHostAddress();
    m_gateway = QHostAddress();
    m_gatewayMac.clear();
    m_dnsServer = m_config.customDnsEnabled ? m_config.customDnsServer : QHostAddress();
    const SharingPlan plan = SharingPlan::choose(m_config, interfaces(), m_wyndlink->isAvailable(),
                                                 m_hostedNetwork->isAvailable());
    m_publicInterface = plan.publicInterface;
    m_privateInterface = plan.privateInterface;
    m_kind = plan.kind;
    m_privateKnown = plan.valid && !m_config.useAccessPoint;
    return plan.valid;
}

bool SpotWorker::connectRepeater()
{
    m_wifiConnect->setNetworkName(m_config.repeaterNetworkName);
    m_wifiConnect->setNetworkKey(m_config.repeaterNetworkKey);
    m_wifiConnect->setAdhoc(0);
    m_wifiConnect->setInterface(m_publicInterface);
    if (!m_wifiConnect->connect())
        return false;
    for (;;) {
        const WiFiConnect::State before = m_wifiConnect->state();
        if (before == WiFiConnect::Connected)
            return true;
        const int code = wait();
        if (code == AbortWake)
            return false;
        if (before == WiFiConnect::NetworkNotFound && code == NetworksWake && !m_wifiConnect->connect())
            return false;
        if (before != WiFiConnect::NetworkNotFound && code == StateWake)
            return true;
    }
}

bool SpotWorker::startPrivateSide()
{
    switch (m_kind) {
    case DirectAccessPoint:
        return startDirectAccessPoint();
    case HostedNetwork:
        return startHostedNetwork();
    case AdHocNetwork:
        return openAdHocNetwork() && waitForUser();
    case WiredInterface:
        break;
    }
    return true;
}

bool SpotWorker::startDirectAccessPoint()
{
    m_wyndlink->setNetworkName(SharingConfig::localText(m_config.networkName));
    m_wyndlink->setNetworkKey(SharingConfig::localText(m_config.networkKey));
    if (!m_wyndlink->start() || !waitUntilUp([this] { return int(m_wyndlink->state()); }))
        return false;
    m_privateInterface = m_wyndlink->networkInterface();
    m_privateKnown = m_privateInterface.isValid();
    return m_privateKnown;
}

bool SpotWorker::startHostedNetwork()
{
    m_hostedNetwork->setNetworkName(m_config.networkName);
    m_hostedNetwork->setNetworkKey(m_config.networkKey);
    if (!m_hostedNetwork->start() || !waitUntilUp([this] { return int(m_hostedNetwork->state()); }))
        return false;
    m_privateInterface = m_hostedNetwork->networkInterface();
    m_privateKnown = m_privateInterface.isValid();
    return m_privateKnown;
}

bool SpotWorker::openAdHocNetwork()
{
    m_wifiConnect->setAdhoc(1);
    m_wifiConnect->setNetworkName(SharingConfig::utf8Text(m_config.networkName));
    m_wifiConnect->setNetworkKey(SharingConfig::utf8Text(m_config.networkKey));
    m_wifiConnect->setSecurity(m_config.security);
    m_wifiConnect->setInterface(m_privateInterface);
    return m_wifiConnect->connect() && waitUntilUp([this] { return int(m_wifiConnect->state()); });
}

// An ad hoc network's adapter runs once a peer has joined it.
bool SpotWorker::waitForUser()
{
    for (;;) {
        m_privateInterface.refresh(NetworkInterface::interfaces(NetworkInterface::EthernetAndWireless));
        if (isRunning(m_privateInterface)) {
            emit newEvent(Ready);
            return true;
        }
        emit newEvent(WaitingForUsers);
        if (!waitOneSecond())
            return false;
    }
}

bool SpotWorker::configurePrivateAddressing()
{
    if (!installPrivateAddress() || !waitForOwnedAddress())
        return false;
    m_privateInterface.refresh(NetworkInterface::interfaces(NetworkInterface::EthernetAndWireless));
    return !m_config.dhcpEnabled || bindDhcpServer();
}

// The host refuses to add an address the interface already holds, as after a run that
// ended without its stop sequence; such an address is taken over as this run's own.
bool SpotWorker::installPrivateAddress()
{
    if (m_privateInterface.addAddress(m_config.networkAddress, m_config.subnetMask)
        || (!m_config.networkAddress.isNull() && holdsAddress(current(m_privateInterface), m_config.networkAddress)))
        m_addressInstalled = true;
    return m_addressInstalled;
}

// The host owns a new address once a socket can be bound to it.
bool SpotWorker::waitForOwnedAddress()
{
    for (int attempt = 1;; ++attempt) {
        QUdpSocket probe;
        if (probe.bind(m_config.networkAddress, 0))
            return true;
        if (attempt == kBindAttempts || !waitOneSecond())
            return false;
    }
}

bool SpotWorker::bindDhcpServer()
{
    const QHostAddress &address = m_config.networkAddress;
    m_dhcp->setServerAddress(address);
    m_dhcp->setRouter(address, m_config.subnetMask);
    m_dhcp->setDnsServer(address);
    m_dhcp->setRange(m_config.poolStart, m_config.poolEnd);
    m_dhcp->setLeaseTime(kLeaseSeconds);
    m_dhcp->setIgnoredMac(QByteArray::fromHex(m_privateInterface.hardwareAddress().remove(QLatin1Char(':')).toLatin1()));
    return m_dhcp->bind();
}

bool SpotWorker::startInternetSharing()
{
    setState(ConfiguringInternet);
    if (!waitForInternet())
        return false;
    emit newEvent(Ready);
    m_users->setGatewayMac(m_gatewayMac);
    if (m_config.mode == SharingConfig::Router)
        startTranslation();
    startEngines();
    const int flags = m_config.upnpFlags();
    if (flags != 0 && !startPortMapping(flags))
        return false;
    setState(InternetConfigured);
    return true;
}

bool SpotWorker::waitForInternet()
{
    while (!internetUsable()) {
        emit newEvent(NoInternet);
        if (!waitOneSecond())
            return false;
    }
    return true;
}

// Usable: the interface runs with an address, a DNS server (router mode) and a default
// gateway that answers ARP. A public interface that is down is not usable, whatever it
// held before.
bool SpotWorker::internetUsable()
{
    m_publicInterface.refresh(NetworkInterface::interfaces(NetworkInterface::EthernetAndWireless));
    if (!isRunning(m_publicInterface))
        return false;
    const bool router = m_config.mode == SharingConfig::Router;
    m_publicAddress = firstIPv4(m_publicInterface);
    if (!m_config.customDnsEnabled && router)
        m_dnsServer = firstDnsServer(m_publicInterface);
    m_gateway = m_publicInterface.gateway();
    if (m_publicAddress.isNull() || (router && m_dnsServer.isNull()) || m_gateway.isNull())
        return false;
    m_gatewayMac = ARPTable::macForAddress(m_gateway);
    return m_gatewayMac.size() == 6;
}

void SpotWorker::startTranslation()
{
    m_nat->setSubnet(m_config.networkAddress, m_config.subnetMask);
    m_nat->setPrivateGateway(m_config.networkAddress);
    m_nat->setDnsServer(m_dnsServer);
    m_nat->start();
}

void SpotWorker::startEngines()
{
    m_engines->setMode(m_config.mode);
    m_engines->setPublicAddress(m_publicAddress);
    m_engines->setPrivateAddress(m_config.networkAddress);
    m_engines->setPublicInterface(m_publicInterface);
    m_engines->setPrivateInterface(m_privateInterface);
    m_engines->start();
}

bool SpotWorker::startPortMapping(int flags)
{
    m_upnp->setFlags(flags);
    m_upnp->setInternetAddress(m_publicAddress);
    m_upnp->setLocalAddress(m_config.networkAddress);
    m_upnp->setLocalInterface(m_privateInterface);
    return m_upnp->start();
}
