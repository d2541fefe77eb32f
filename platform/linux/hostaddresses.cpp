// SPDX-License-Identifier: GPL-3.0-or-later
// Adding, listing and removing IPv4 addresses of an interface through rtnetlink.
#include "platform/hostnetwork.h"
#include "platform/linux/rtnetlink.h"

#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

// The removal context of an address is (prefix length << 24) | interface index. The
// kernel finds an address by interface and local address, so the context together with
// the address is all a later removal needs, also in another process.
namespace platform {

namespace {

constexpr quint32 kIndexBits = 0xFFFFFF;

quint32 encodeContext(int ifindex, int prefixLength)
{
    return quint32(prefixLength) << 24 | (quint32(ifindex) & kIndexBits);
}

// The prefix length of a contiguous mask, or -1.
int prefixLength(quint32 mask)
{
    int length = 0;
    while (length < 32 && (mask & (0x80000000u >> length)))
        ++length;
    const quint32 rebuilt = length == 0 ? 0 : ~quint32(0) << (32 - length);
    return rebuilt == mask ? length : -1;
}

rtnl::Request addressRequest(quint16 type, quint16 flags, int ifindex, int prefix, quint32 address)
{
    rtnl::Request request(type, flags);
    ifaddrmsg header{};
    header.ifa_family = AF_INET;
    header.ifa_prefixlen = static_cast<unsigned char>(prefix);
    header.ifa_scope = RT_SCOPE_UNIVERSE;
    header.ifa_index = static_cast<unsigned>(ifindex);
    request.fixedHeader(header);
    request.attributeIpv4(IFA_LOCAL, address);
    return request;
}

} // namespace

std::optional<quint32> addIPv4Address(int ifindex, quint32 address, quint32 mask)
{
    const int prefix = prefixLength(mask);
    if (ifindex <= 0 || quint32(ifindex) > kIndexBits || prefix < 1 || address == 0)
        return std::nullopt;
    rtnl::Request request = addressRequest(RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL, ifindex, prefix, address);
    request.attributeIpv4(IFA_ADDRESS, address);
    if (prefix <= 30)
        request.attributeIpv4(IFA_BROADCAST, address | ~mask);
    rtnl::Socket socket;
    if (socket.change(request) != 0)
        return std::nullopt;
    return encodeContext(ifindex, prefix);
}

bool removeIPv4Address(quint32 address, quint32 context)
{
    const int ifindex = static_cast<int>(context & kIndexBits);
    const int prefix = static_cast<int>(context >> 24);
    if (ifindex == 0 || prefix > 32 || address == 0)
        return false;
    rtnl::Socket socket;
    return socket.change(addressRequest(RTM_DELADDR, 0, ifindex, prefix, address)) == 0;
}

std::vector<AddressRecord> ipv4Addresses(int ifindex)
{
    if (ifindex <= 0 || quint32(ifindex) > kIndexBits)
        return {};
    rtnl::Socket socket;
    rtnl::Request request(RTM_GETADDR);
    ifaddrmsg header{};
    header.ifa_family = AF_INET;
    request.fixedHeader(header);
    std::vector<AddressRecord> records;
    const bool ok = socket.dump(request, RTM_NEWADDR, [&](rtnl::ByteView payload) {
        const auto h = payload.read<ifaddrmsg>(0);
        if (!h || h->ifa_family != AF_INET || int(h->ifa_index) != ifindex || h->ifa_prefixlen > 32)
            return;
        const auto attributes = rtnl::AttributeTable::parse(payload.from(NLMSG_ALIGN(sizeof(ifaddrmsg))));
        const auto address = attributes.ipv4(IFA_LOCAL) ? attributes.ipv4(IFA_LOCAL) : attributes.ipv4(IFA_ADDRESS);
        if (!address)
            return;
        records.push_back({*address, h->ifa_prefixlen, encodeContext(ifindex, h->ifa_prefixlen)});
    });
    return ok ? records : std::vector<AddressRecord>();
}

} // namespace platform
