// SPDX-License-Identifier: GPL-3.0-or-later
// The host resolver's upstream DNS servers, read from resolv.conf files.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <functional>
#include <vector>

// The DNS servers an adapter reports are the servers the host's resolver asks. When
// /etc/resolv.conf names a resolver on the host itself (systemd-resolved's stub at
// 127.0.0.53, a local dnsmasq at 127.0.0.1, ...), that address is useless to the clients
// of the hotspot, so the stub's own upstream list (/run/systemd/resolve/resolv.conf) is
// used instead. Loopback addresses never make it into the result.
namespace platform::resolvconf {

constexpr const char *kResolvConf = "/etc/resolv.conf";
constexpr const char *kStubUpstreamConf = "/run/systemd/resolve/resolv.conf";

// Parses one strict dotted quad ("a.b.c.d", each 0..255, no shorthand forms).
bool parseIpv4(const QByteArray &text, quint32 *address);

// The IPv4 addresses of the "nameserver" lines, in file order. Comment lines (starting
// with '#' or ';'), other keywords, IPv6 and malformed addresses are skipped.
std::vector<quint32> parseNameservers(const QByteArray &text);

bool isLoopback(quint32 address);

// The upstream servers given the content of /etc/resolv.conf; `stubUpstream` is asked for
// the stub's upstream file only when the first list points at the host itself. Should that
// file name no server, the non-loopback servers of the first list remain.
std::vector<quint32> upstreamServers(const QByteArray &resolvConf,
                                     const std::function<QByteArray()> &stubUpstream);

// upstreamServers() on this host's files.
std::vector<quint32> hostUpstreamServers();

} // namespace platform::resolvconf
