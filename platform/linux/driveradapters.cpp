// SPDX-License-Identifier: GPL-3.0-or-later
// The packet driver's adapter list, taken from the host's Ethernet-type interfaces.
#include "platform/linux/driveradapters.h"

#include "platform/linux/drivernames.h"
#include "platform/linux/ownedfd.h"

#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

struct HostAdapter {
    quint8 mac[PacketDriver::kMacSize];
    quint16 mtu;
};

bool describe(int sock, const char *name, HostAdapter &out)
{
    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
    if (ioctl(sock, SIOCGIFHWADDR, &ifr) != 0 || ifr.ifr_hwaddr.sa_family != ARPHRD_ETHER)
        return false;
    std::memcpy(out.mac, ifr.ifr_hwaddr.sa_data, PacketDriver::kMacSize);
    if (ioctl(sock, SIOCGIFMTU, &ifr) != 0)
        return false;
    out.mtu = static_cast<quint16>(std::clamp(ifr.ifr_mtu, 0, int(std::numeric_limits<quint16>::max())));
    return true;
}

} // namespace

namespace DriverAdapters {

bool fill(PacketDriver::AdapterList &list)
{
    std::memset(&list, 0, sizeof list);
    OwnedFd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock.isValid())
        return false;
    struct if_nameindex *names = ::if_nameindex();
    if (!names)
        return false;
    const std::size_t prefixLength = std::strlen(DriverNames::kTapPrefix);
    for (struct if_nameindex *it = names; it->if_index != 0 && list.count < PacketDriver::kMaxAdapters; ++it) {
        HostAdapter adapter;
        if (std::strncmp(it->if_name, DriverNames::kTapPrefix, prefixLength) == 0
            || !describe(sock.get(), it->if_name, adapter))
            continue;
        const quint32 i = list.count++;
        std::snprintf(list.names[i], sizeof list.names[i], "%s%s", PacketDriver::kAdapterNamePrefix, it->if_name);
        list.handles[i] = it->if_index;
        std::memcpy(list.macs[i], adapter.mac, sizeof adapter.mac);
        list.mtus[i] = adapter.mtu;
    }
    if_freenameindex(names);
    return true;
}

} // namespace DriverAdapters
