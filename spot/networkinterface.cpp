// SPDX-License-Identifier: GPL-3.0-or-later
// NetworkInterface: the value in which the system passes one host interface around.
#include "spot/networkinterface.h"

namespace {

bool toIpv4(const QHostAddress &address, quint32 *value)
{
    bool ok = false;
    *value = address.toIPv4Address(&ok);
    return ok && address.protocol() == QAbstractSocket::IPv4Protocol;
}

QNetworkInterface frameworkInterface(int index, const QList<QNetworkInterface> &framework)
{
    for (const QNetworkInterface &candidate : framework)
        if (candidate.isValid() && candidate.index() == index)
            return candidate;
    return QNetworkInterface();
}

} // namespace

NetworkInterface::NetworkInterface(const QNetworkInterface &platformInterface)
    : m_interface(platformInterface)
{
}

QList<QNetworkAddressEntry> NetworkInterface::addressEntries(QAbstractSocket::NetworkLayerProtocol protocol) const
{
    QList<QNetworkAddressEntry> entries;
    for (const QNetworkAddressEntry &entry : m_interface.addressEntries())
        if (entry.ip().protocol() == protocol)
            entries.append(entry);
    return entries;
}

bool NetworkInterface::operator==(const NetworkInterface &other) const
{
    return m_interface.index() == other.m_interface.index();
}

NetworkInterface::Type NetworkInterface::classification(int hardwareType, unsigned filter)
{
    const bool any = filter & AnyHardwareType;
    if ((filter & EthernetAdapters) && (hardwareType == platform::kHardwareEthernet || any))
        return Ethernet;
    if ((filter & WirelessAdapters) && (hardwareType == platform::kHardwareIeee80211 || any))
        return Wireless;
    return NotClassified;
}

QList<NetworkInterface> NetworkInterface::classify(const std::vector<platform::AdapterRecord> &adapters,
                                                   const QList<QNetworkInterface> &framework, unsigned filter)
{
    QList<NetworkInterface> list;
    for (const platform::AdapterRecord &record : adapters) {
        const QNetworkInterface platformInterface = frameworkInterface(record.index, framework);
        const Type type = classification(record.hardwareType, filter);
        if (!platformInterface.isValid() || type == NotClassified)
            continue;
        NetworkInterface value(platformInterface);
        value.m_index = record.index;
        value.m_type = type;
        value.m_name = record.name;
        value.m_description = record.description;
        for (quint32 server : record.dnsServers)
            value.m_dnsServers.append(QHostAddress(server));
        list.append(value);
    }
    return list;
}

QList<NetworkInterface> NetworkInterface::interfaces(unsigned filter)
{
    return classify(platform::adapters(), QNetworkInterface::allInterfaces(), filter);
}

NetworkInterface NetworkInterface::find(int index, const QList<NetworkInterface> &list)
{
    for (const NetworkInterface &candidate : list)
        if (candidate.index() == index)
            return candidate;
    return NetworkInterface();
}

NetworkInterface NetworkInterface::findByName(const QString &name, const QList<NetworkInterface> &list)
{
    for (const NetworkInterface &candidate : list)
        if (candidate.name().compare(name, Qt::CaseInsensitive) == 0)
            return candidate;
    return NetworkInterface();
}

void NetworkInterface::refresh(const QList<NetworkInterface> &list)
{
    const int index = m_index;
    const QMap<quint32, quint32> added = m_addedAddresses;
    *this = find(index, list);
    m_index = index;
    m_addedAddresses = added;
}

QHostAddress NetworkInterface::gateway() const
{
    if (m_gateway.isNull())
        m_gateway = defaultGateway(routes(*this));
    return m_gateway;
}

QHostAddress NetworkInterface::defaultGateway(const QList<Route> &rows)
{
    for (const Route &row : rows)
        if (row.destination == QHostAddress(quint32(0)))
            return row.nextHop;
    return QHostAddress();
}

QList<Route> NetworkInterface::routes(const std::vector<platform::RouteRecord> &rows,
                                      const QList<NetworkInterface> &enumerated)
{
    QList<Route> table;
    for (const platform::RouteRecord &row : rows) {
        Route route;
        route.destination = QHostAddress(row.destination);
        route.mask = QHostAddress(row.mask);
        route.nextHop = QHostAddress(row.nextHop);
        route.interface = find(row.ifindex, enumerated);
        route.metric = row.metric;
        table.append(route);
    }
    return table;
}

QList<Route> NetworkInterface::routes()
{
    return routes(platform::ipv4Routes(), interfaces(EthernetAndWireless));
}

QList<Route> NetworkInterface::routes(const NetworkInterface &interface)
{
    QList<Route> own;
    if (interface.index() == 0)
        return own;
    for (const Route &row : routes())
        if (row.interface.index() == interface.index())
            own.append(row);
    return own;
}

bool NetworkInterface::addAddress(const QHostAddress &address, const QHostAddress &mask)
{
    quint32 a = 0;
    quint32 m = 0;
    if (!toIpv4(address, &a) || !toIpv4(mask, &m))
        return false;
    const std::optional<quint32> context = platform::addIPv4Address(m_index, a, m);
    if (!context)
        return false;
    m_addedAddresses.insert(a, *context);
    return true;
}

bool NetworkInterface::removeAddress(const QHostAddress &address)
{
    quint32 a = 0;
    if (!toIpv4(address, &a))
        return false;
    if (m_addedAddresses.contains(a) && platform::removeIPv4Address(a, m_addedAddresses.take(a)))
        return true;
    for (const platform::AddressRecord &entry : platform::ipv4Addresses(m_index))
        if (entry.address == a)
            return platform::removeIPv4Address(a, entry.context);
    return false;
}

void NetworkInterface::registerMetaType()
{
    qRegisterMetaType<NetworkInterface>("NetworkInterface");
}
