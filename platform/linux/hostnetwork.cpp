// SPDX-License-Identifier: GPL-3.0-or-later
// Adapter records from rtnetlink links, sysfs and the resolver configuration.
#include "platform/hostnetwork.h"
#include "platform/linux/drivernames.h"
#include "platform/linux/resolvconf.h"
#include "platform/linux/rtnetlink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

namespace platform {

namespace {

// What one RTM_NEWLINK message says about an interface.
struct LinkFacts {
    int index = 0;
    unsigned linkType = 0; // ARPHRD_*
    QString name;
    QString alias;
    QString kind;          // IFLA_INFO_KIND: "veth", "bridge", ...
};

QString sysfsPath(const QString &name, const QString &entry)
{
    return QStringLiteral("/sys/class/net/") + name + QLatin1Char('/') + entry;
}

QString readSysfsLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readLine(256)).trimmed();
}

// The packet driver's own TAP devices are its inner workings, not adapters of the host:
// nobody may share a connection through them.
bool isDriverTap(const LinkFacts &link)
{
    return link.name.startsWith(QLatin1String(DriverNames::kTapPrefix))
        && QFileInfo::exists(sysfsPath(link.name, QStringLiteral("tun_flags")));
}

bool isWireless(const LinkFacts &link)
{
    if (link.alias.startsWith(QLatin1String(kSimulatedRadioAlias)))
        return true;
    return QFileInfo::exists(sysfsPath(link.name, QStringLiteral("phy80211")))
        || QFileInfo::exists(sysfsPath(link.name, QStringLiteral("wireless")));
}

int hardwareType(const LinkFacts &link)
{
    switch (link.linkType) {
    case ARPHRD_ETHER:
        return isWireless(link) ? kHardwareIeee80211 : kHardwareEthernet;
    case ARPHRD_IEEE80211:
    case ARPHRD_IEEE80211_RADIOTAP:
        return kHardwareIeee80211;
    case ARPHRD_LOOPBACK:
        return kHardwareLoopback;
    case ARPHRD_PPP:
        return kHardwarePpp;
    default:
        return kHardwareOther;
    }
}

// The model of the device behind the interface: a USB product name, else PCI ids.
QString deviceModel(const QString &name)
{
    const QString device = sysfsPath(name, QStringLiteral("device"));
    const QString product = readSysfsLine(device + QStringLiteral("/../product"));
    if (!product.isEmpty())
        return product;
    const QString vendorId = readSysfsLine(device + QStringLiteral("/vendor"));
    const QString deviceId = readSysfsLine(device + QStringLiteral("/device"));
    if (!vendorId.isEmpty() && !deviceId.isEmpty())
        return vendorId + QLatin1Char(':') + deviceId;
    return QString();
}

QString description(const LinkFacts &link)
{
    if (!link.alias.isEmpty())
        return link.alias;
    const QString driver = QFileInfo(sysfsPath(link.name, QStringLiteral("device/driver"))).symLinkTarget();
    QStringList parts;
    if (!driver.isEmpty())
        parts << QFileInfo(driver).fileName();
    const QString model = deviceModel(link.name);
    if (!model.isEmpty())
        parts << model;
    if (parts.isEmpty() && !link.kind.isEmpty())
        parts << link.kind;
    if (parts.isEmpty() && link.linkType == ARPHRD_LOOPBACK)
        parts << QStringLiteral("loopback");
    return parts.isEmpty() ? link.name : parts.join(QLatin1Char(' '));
}

std::optional<LinkFacts> parseLink(rtnl::ByteView payload)
{
    const auto info = payload.read<ifinfomsg>(0);
    if (!info || info->ifi_index <= 0)
        return std::nullopt;
    const auto attributes = rtnl::AttributeTable::parse(payload.from(NLMSG_ALIGN(sizeof(ifinfomsg))));
    LinkFacts link;
    link.index = info->ifi_index;
    link.linkType = info->ifi_type;
    link.name = attributes.string(IFLA_IFNAME);
    link.alias = attributes.string(IFLA_IFALIAS);
    link.kind = rtnl::AttributeTable::parse(attributes.get(IFLA_LINKINFO)).string(IFLA_INFO_KIND);
    if (link.name.isEmpty() || link.name.contains(QLatin1Char('/')))
        return std::nullopt;
    return link;
}

} // namespace

std::vector<AdapterRecord> adapters()
{
    rtnl::Socket socket;
    rtnl::Request request(RTM_GETLINK);
    ifinfomsg header{};
    header.ifi_family = AF_UNSPEC;
    request.fixedHeader(header);
    std::vector<LinkFacts> links;
    const bool ok = socket.dump(request, RTM_NEWLINK, [&links](rtnl::ByteView payload) {
        if (auto link = parseLink(payload))
            links.push_back(*link);
    });
    if (!ok)
        return {};
    const std::vector<quint32> dns = resolvconf::hostUpstreamServers();
    std::vector<AdapterRecord> records;
    for (const LinkFacts &link : links) {
        if (isDriverTap(link))
            continue;
        AdapterRecord record;
        record.index = link.index;
        record.name = link.name;
        record.description = description(link);
        record.hardwareType = hardwareType(link);
        record.dnsServers = dns;
        records.push_back(record);
    }
    return records;
}

} // namespace platform
