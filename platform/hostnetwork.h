// SPDX-License-Identifier: GPL-3.0-or-later
// Host IP configuration: adapter records, the IPv4 routing table, address add/remove, ARP.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

// The backend behind NetworkInterface. Every call is synchronous, keeps no state and
// reports failure only through its result (an empty list, an empty optional, false).
// IPv4 addresses and masks are 32-bit numbers in host byte order (192.168.51.1 is
// 0xC0A83301).
namespace platform {

// Hardware types of adapter records (the IANA ifType numbers).
constexpr int kHardwareOther = 1;
constexpr int kHardwareEthernet = 6;
constexpr int kHardwarePpp = 23;
constexpr int kHardwareLoopback = 24;
constexpr int kHardwareIeee80211 = 71;

// An adapter is wireless when the host says so (a phy80211 or wireless entry in
// /sys/class/net/<name>/) or when its interface alias starts with this marking. The radio
// simulator of the test lab gives the adapters it makes such an alias
// ("tarnwick-radio0", ...), since veth links have no radio the kernel could report.
constexpr const char *kSimulatedRadioAlias = "tarnwick-radio";

struct AdapterRecord {
    int index = 0;                    // the host's interface index
    QString name;                     // the interface name: the adapter's stable identifier
    QString description;              // alias, else driver and model, else link kind; never empty
    int hardwareType = kHardwareOther;
    std::vector<quint32> dnsServers;  // the resolver's upstream servers, in the host's order
};

struct RouteRecord {
    quint32 destination = 0;
    quint32 mask = 0;
    quint32 nextHop = 0;              // 0 for a directly connected network
    int ifindex = 0;
    quint32 metric = 0;
};

// One IPv4 address the host holds on an interface, with the context that removes it.
struct AddressRecord {
    quint32 address = 0;
    int prefixLength = 0;
    quint32 context = 0;
};

// The host's adapters in its own order (by interface index). Empty when the host cannot
// be asked.
std::vector<AdapterRecord> adapters();

// The unicast rows of the main IPv4 routing table (a multipath route gives one row per
// path), sorted by destination, mask, next hop, interface index and metric, in that
// order: the metric decides only between rows that are otherwise alike.
std::vector<RouteRecord> ipv4Routes();

// Puts rows into the table order described above (stable for rows that are fully alike).
void sortRoutes(std::vector<RouteRecord> *rows);

// Adds address/mask beside the interface's other addresses. The result is the removal
// context: it encodes the interface index (low 24 bits) and the prefix length (high
// 8 bits), so removing needs no bookkeeping here. No value when the host refuses, the mask
// is not contiguous, or the index does not fit into the context.
std::optional<quint32> addIPv4Address(int ifindex, quint32 address, quint32 mask);

// Removes an address that addIPv4Address (or ipv4Addresses) handed out with `context`.
bool removeIPv4Address(quint32 address, quint32 context);

// The IPv4 addresses the host holds on one interface, each with its removal context.
std::vector<AddressRecord> ipv4Addresses(int ifindex);

// Sends an ARP request for `target` on interface `ifindex` and waits at most timeoutMs
// for the answer. The result is the six-byte hardware address, or empty.
QByteArray resolveHardwareAddress(int ifindex, quint32 target, int timeoutMs = 1000);

// The same on the interface that the main routing table uses to reach `target`.
QByteArray resolveHardwareAddress(quint32 target, int timeoutMs = 1000);

} // namespace platform
