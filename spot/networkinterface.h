// SPDX-License-Identifier: GPL-3.0-or-later
// NetworkInterface: the value in which the system passes one host interface around.
#pragma once

#include "platform/hostnetwork.h"

#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QString>

#include <vector>

struct Route;

// A copyable value: the framework's view of an interface (QNetworkInterface) together with
// what the host says of its adapter (index, kind, name, description, DNS servers), the
// default gateway once asked for, and the IPv4 addresses this program added to it with
// the context that removes each. Two values denote the same interface when the indexes
// of their framework interfaces are equal.
class NetworkInterface
{
public:
    enum Type { NotClassified = 0, Ethernet = 1, Wireless = 2 };

    // Bits of the filter word given to interfaces(). A type bit takes the adapters of
    // that hardware type; AnyHardwareType widens the type bits to every adapter. The
    // system uses 255 (Ethernet and 802.11 adapters, each as its own type) and 258
    // (every adapter, typed as wireless).
    enum Filter : unsigned {
        EthernetAdapters = 0x1,
        WirelessAdapters = 0x2,
        AnyHardwareType = 0x100,
        EthernetAndWireless = 255,
        EveryAdapterAsWireless = 258,
    };

    NetworkInterface() = default;
    explicit NetworkInterface(const QNetworkInterface &platformInterface);

    bool isValid() const { return m_interface.isValid(); }
    int index() const { return m_index; }
    int type() const { return m_type; }
    QString name() const { return m_name; }
    QString description() const { return m_description; }
    QList<QHostAddress> dnsServers() const { return m_dnsServers; }
    QString hardwareAddress() const { return m_interface.hardwareAddress(); }
    QNetworkInterface::InterfaceFlags flags() const { return m_interface.flags(); }
    QString humanReadableName() const { return m_interface.humanReadableName(); }
    QList<QNetworkAddressEntry> addressEntries(QAbstractSocket::NetworkLayerProtocol protocol) const;
    QNetworkInterface platformInterface() const { return m_interface; }
    // The addresses addAddress() added, IPv4 in host order, each with its context.
    QMap<quint32, quint32> addedAddresses() const { return m_addedAddresses; }

    // The default gateway: the next hop of the first 0.0.0.0 row among this interface's
    // routes, in table order. Asked for once and then kept in the value; null when none.
    QHostAddress gateway() const;

    bool operator==(const NetworkInterface &other) const;
    bool operator!=(const NetworkInterface &other) const { return !(*this == other); }

    // The host's interfaces classified by `filter`, in the host's adapter order.
    static QList<NetworkInterface> interfaces(unsigned filter);
    // The same from given adapter records and framework interfaces: an adapter without a
    // framework interface of its index is left out.
    static QList<NetworkInterface> classify(const std::vector<platform::AdapterRecord> &adapters,
                                            const QList<QNetworkInterface> &framework, unsigned filter);
    // The type an adapter of `hardwareType` gets under `filter`; NotClassified: skipped.
    static Type classification(int hardwareType, unsigned filter);

    static NetworkInterface find(int index, const QList<NetworkInterface> &list);
    static NetworkInterface findByName(const QString &name, const QList<NetworkInterface> &list);

    // Becomes the element of `list` with this value's index (or an empty value) but keeps
    // the index and the added addresses.
    void refresh(const QList<NetworkInterface> &list);

    // The main IPv4 routing table; rows of adapters that are not enumerated with filter
    // 255 carry an empty interface.
    static QList<Route> routes();
    // The rows of one interface; none for a value without an index.
    static QList<Route> routes(const NetworkInterface &interface);
    static QList<Route> routes(const std::vector<platform::RouteRecord> &rows,
                               const QList<NetworkInterface> &enumerated);
    // The next hop of the first row whose destination is 0.0.0.0 (mask not examined).
    static QHostAddress defaultGateway(const QList<Route> &rows);

    // Adds an IPv4 address with its mask beside the interface's other addresses.
    bool addAddress(const QHostAddress &address, const QHostAddress &mask);
    // Removes an IPv4 address: with the stored context first, else the entry found in the
    // host's own list of this interface's addresses.
    bool removeAddress(const QHostAddress &address);

    // Registers the meta-type "NetworkInterface" for queued signals and calls.
    static void registerMetaType();

private:
    QNetworkInterface m_interface;
    int m_index = 0;
    int m_type = NotClassified;
    QString m_name;
    QString m_description;
    mutable QHostAddress m_gateway;
    QList<QHostAddress> m_dnsServers;
    QMap<quint32, quint32> m_addedAddresses;
};

Q_DECLARE_METATYPE(NetworkInterface)

#include "spot/route.h"
