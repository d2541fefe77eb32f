// SPDX-License-Identifier: GPL-3.0-or-later
// NATService: router mode's translation tables, their idle time-outs and purges.
#include "engine/natservice.h"

#include "app/uptime.h"

#include <QtEndian>

namespace {

constexpr int kPortPurgeSeconds = 10;
constexpr int kQueryPurgeSeconds = 60;
constexpr quint32 kQueryIdleSeconds = 60;
constexpr quint32 kDnsIdleSeconds = 30;
constexpr quint16 kDnsPort = 53;

QHash<int, quint32> tcpTimeouts()
{
    return {{PortState::Static, 3600},   {PortState::SynOut, 30},      {PortState::SynIn, 30},
            {PortState::Established, 7440}, {PortState::FinOut, 30}, {PortState::FinOutAcked, 30},
            {PortState::FinIn, 3720},    {PortState::FinOutFinIn, 10}, {PortState::FinInFinOut, 30},
            {PortState::Closed, 30},     {PortState::Reset, 10}};
}

QHash<int, quint32> udpTimeouts()
{
    return {{PortState::Static, 3600}, {PortState::Established, 180}, {PortState::Reset, 10},
            {PortState::Unanswered, 30}};
}

// The IPv4 address in network order, or nothing for any other kind of address.
std::optional<quint32> networkOrder(const QHostAddress &address)
{
    bool ok = false;
    const quint32 value = address.toIPv4Address(&ok);
    if (!ok || address.protocol() != QAbstractSocket::IPv4Protocol)
        return std::nullopt;
    return qToBigEndian(value);
}

} // namespace

NATService::NATService(UpTime *clock, QObject *parent)
    : QObject(parent)
    , m_tcpTable(clock)
    , m_udpTable(clock)
    , m_icmpTable(clock)
    , m_tcpTimeouts(tcpTimeouts())
    , m_udpTimeouts(udpTimeouts())
    , m_tcpTimer(this)
    , m_udpTimer(this)
    , m_icmpTimer(this)
{
    // Children, so that the timers follow the service if it is moved to another thread.
    m_tcpTimer.setObjectName(QStringLiteral("tcpPurge"));
    m_udpTimer.setObjectName(QStringLiteral("udpPurge"));
    m_icmpTimer.setObjectName(QStringLiteral("icmpPurge"));
    connect(&m_tcpTimer, &QTimer::timeout, this, &NATService::tcpTimeout);
    connect(&m_udpTimer, &QTimer::timeout, this, &NATService::udpTimeout);
    connect(&m_icmpTimer, &QTimer::timeout, this, &NATService::icmpTimeout);
}

bool NATService::setSubnet(const QHostAddress &address, const QHostAddress &mask)
{
    // A null address would read as "/mask", which the parser takes for 0.0.0.0.
    const bool ipv4 = networkOrder(address) && networkOrder(mask);
    const QPair<QHostAddress, int> parsed = QHostAddress::parseSubnet(
        QStringLiteral("%1/%2").arg(address.toString(), mask.toString()));
    const std::optional<quint32> network = networkOrder(parsed.first);
    if (!ipv4 || !network || parsed.second < 0 || parsed.second > 32) {
        m_subnetPrefix.store(-1);
        m_subnetMask.store(0);
        m_subnetNetwork.store(0);
        return false;
    }
    const quint32 hostMask = parsed.second == 0 ? 0 : ~quint32(0) << (32 - parsed.second);
    m_subnetMask.store(qToBigEndian(hostMask));
    m_subnetNetwork.store(*network & qToBigEndian(hostMask));
    m_subnetPrefix.store(parsed.second);
    return true;
}

bool NATService::setPrivateGateway(const QHostAddress &address)
{
    const std::optional<quint32> value = networkOrder(address);
    m_privateGateway.store(value.value_or(0));
    pairDnsEndpoints();
    return value.has_value();
}

bool NATService::setDnsServer(const QHostAddress &address)
{
    const std::optional<quint32> value = networkOrder(address);
    m_dnsServer.store(value.value_or(0));
    pairDnsEndpoints();
    return value.has_value();
}

// The router sends clients' queries to the gateway's port 53 on to the DNS server's, so on
// the wire the two are one remote endpoint for the UDP table.
void NATService::pairDnsEndpoints()
{
    const quint16 dnsPort = qToBigEndian(kDnsPort);
    m_udpTable.setRemoteAlias(m_privateGateway.load(), dnsPort, m_dnsServer.load(), dnsPort);
}

void NATService::start()
{
    m_tcpTimer.start(kPortPurgeSeconds * 1000);
    m_udpTimer.start(kPortPurgeSeconds * 1000);
    m_icmpTimer.start(kQueryPurgeSeconds * 1000);
}

void NATService::stop()
{
    m_tcpTimer.stop();
    m_udpTimer.stop();
    m_icmpTimer.stop();
    m_tcpTable.clear();
    m_udpTable.clear();
    m_icmpTable.clear();
}

PortTable *NATService::tcpTable()
{
    return &m_tcpTable;
}

PortTable *NATService::udpTable()
{
    return &m_udpTable;
}

QueryTable *NATService::icmpTable()
{
    return &m_icmpTable;
}

QPair<QHostAddress, int> NATService::subnet() const
{
    const int prefix = m_subnetPrefix.load();
    if (prefix < 0)
        return qMakePair(QHostAddress(), -1);
    return qMakePair(QHostAddress(qFromBigEndian(m_subnetNetwork.load())), prefix);
}

bool NATService::isInSubnet(quint32 address) const
{
    if (m_subnetPrefix.load(std::memory_order_relaxed) < 0)
        return false;
    return (address & m_subnetMask.load(std::memory_order_relaxed))
        == m_subnetNetwork.load(std::memory_order_relaxed);
}

quint32 NATService::privateGateway() const
{
    return m_privateGateway.load(std::memory_order_relaxed);
}

quint32 NATService::dnsServer() const
{
    return m_dnsServer.load(std::memory_order_relaxed);
}

quint32 NATService::tcpIdleSeconds(const PortEntry &entry) const
{
    return m_tcpTimeouts.value(entry.state, 0);
}

quint32 NATService::udpIdleSeconds(const PortKey &key, const PortEntry &entry) const
{
    if (entry.state == PortState::Established && key.remotePort == qToBigEndian(kDnsPort))
        return kDnsIdleSeconds;
    return m_udpTimeouts.value(entry.state, 0);
}

void NATService::rearm(QTimer &timer, quint32 smallestRemaining, int longestSeconds)
{
    if (!timer.isActive())
        return;
    const bool soon = smallestRemaining >= 1 && smallestRemaining <= quint32(longestSeconds);
    timer.start(int(soon ? smallestRemaining : quint32(longestSeconds)) * 1000);
}

void NATService::tcpTimeout()
{
    const quint32 smallest = m_tcpTable.purge(
        [this](const PortKey &, const PortEntry &entry) { return tcpIdleSeconds(entry); });
    rearm(m_tcpTimer, smallest, kPortPurgeSeconds);
}

void NATService::udpTimeout()
{
    const quint32 smallest = m_udpTable.purge(
        [this](const PortKey &key, const PortEntry &entry) { return udpIdleSeconds(key, entry); });
    rearm(m_udpTimer, smallest, kPortPurgeSeconds);
}

void NATService::icmpTimeout()
{
    rearm(m_icmpTimer, m_icmpTable.purge(kQueryIdleSeconds), kQueryPurgeSeconds);
}
