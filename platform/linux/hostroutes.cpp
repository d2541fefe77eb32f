// SPDX-License-Identifier: GPL-3.0-or-later
// The main IPv4 routing table read through rtnetlink.
#include "platform/hostnetwork.h"
#include "platform/linux/rtnetlink.h"

#include <algorithm>
#include <tuple>

#include <linux/rtnetlink.h>
#include <sys/socket.h>

namespace platform {

namespace {

quint32 prefixToMask(int length)
{
    return length <= 0 ? 0 : ~quint32(0) << (32 - length);
}

// One row per path of a multipath route (RTA_MULTIPATH holds struct rtnexthop records,
// each followed by its own attributes).
void appendPaths(rtnl::ByteView paths, const RouteRecord &base, std::vector<RouteRecord> *rows)
{
    std::size_t offset = 0;
    while (const auto hop = paths.read<rtnexthop>(offset)) {
        if (hop->rtnh_len < sizeof(rtnexthop) || hop->rtnh_len > paths.size() - offset)
            break;
        const auto attributes = rtnl::AttributeTable::parse(
            paths.sub(offset + sizeof(rtnexthop), hop->rtnh_len - sizeof(rtnexthop)));
        RouteRecord row = base;
        row.ifindex = hop->rtnh_ifindex;
        row.nextHop = attributes.ipv4(RTA_GATEWAY).value_or(0);
        if (row.ifindex > 0 && !attributes.has(RTA_VIA))
            rows->push_back(row);
        offset += RTNH_ALIGN(hop->rtnh_len);
    }
}

void parseRoute(rtnl::ByteView payload, std::vector<RouteRecord> *rows)
{
    const auto header = payload.read<rtmsg>(0);
    if (!header || header->rtm_family != AF_INET || header->rtm_type != RTN_UNICAST
        || header->rtm_dst_len > 32)
        return;
    const auto attributes = rtnl::AttributeTable::parse(payload.from(NLMSG_ALIGN(sizeof(rtmsg))));
    if (attributes.u32(RTA_TABLE).value_or(header->rtm_table) != RT_TABLE_MAIN)
        return;
    RouteRecord base;
    base.mask = prefixToMask(header->rtm_dst_len);
    base.destination = attributes.ipv4(RTA_DST).value_or(0) & base.mask;
    base.metric = attributes.u32(RTA_PRIORITY).value_or(0);
    if (attributes.has(RTA_MULTIPATH)) {
        appendPaths(attributes.get(RTA_MULTIPATH), base, rows);
        return;
    }
    RouteRecord row = base;
    row.ifindex = static_cast<int>(attributes.u32(RTA_OIF).value_or(0));
    row.nextHop = attributes.ipv4(RTA_GATEWAY).value_or(0);
    if (row.ifindex > 0 && !attributes.has(RTA_VIA))
        rows->push_back(row);
}

} // namespace

std::vector<RouteRecord> ipv4Routes()
{
    rtnl::Socket socket;
    rtnl::Request request(RTM_GETROUTE);
    rtmsg header{};
    header.rtm_family = AF_INET;
    request.fixedHeader(header);
    std::vector<RouteRecord> rows;
    const bool ok = socket.dump(request, RTM_NEWROUTE, [&rows](rtnl::ByteView payload) {
        parseRoute(payload, &rows);
    });
    if (!ok)
        return {};
    sortRoutes(&rows);
    return rows;
}

void sortRoutes(std::vector<RouteRecord> *rows)
{
    std::stable_sort(rows->begin(), rows->end(), [](const RouteRecord &a, const RouteRecord &b) {
        return std::tie(a.destination, a.mask, a.nextHop, a.ifindex, a.metric)
            < std::tie(b.destination, b.mask, b.nextHop, b.ifindex, b.metric);
    });
}

} // namespace platform
