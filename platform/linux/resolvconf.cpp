// SPDX-License-Identifier: GPL-3.0-or-later
// The host resolver's upstream DNS servers, read from resolv.conf files.
#include "platform/linux/resolvconf.h"

#include <QFile>
#include <QList>

#include <algorithm>

namespace platform::resolvconf {

namespace {

QByteArray readFile(const char *path)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(1024 * 1024);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

bool parseIpv4(const QByteArray &text, quint32 *address)
{
    const QList<QByteArray> parts = text.split('.');
    if (parts.size() != 4)
        return false;
    quint32 value = 0;
    for (const QByteArray &part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        int field = 0;
        for (char c : part) {
            if (c < '0' || c > '9')
                return false;
            field = field * 10 + (c - '0');
        }
        if (field > 255)
            return false;
        value = value << 8 | quint32(field);
    }
    *address = value;
    return true;
}

std::vector<quint32> parseNameservers(const QByteArray &text)
{
    static const QByteArray keyword("nameserver");
    std::vector<quint32> servers;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (!line.startsWith(keyword) || line.size() <= keyword.size() || !isBlank(line.at(keyword.size())))
            continue;
        QByteArray value = line.mid(keyword.size()).trimmed();
        const int end = std::min(value.indexOf(' ') < 0 ? value.size() : value.indexOf(' '),
                                 value.indexOf('\t') < 0 ? value.size() : value.indexOf('\t'));
        value.truncate(end);
        quint32 address = 0;
        if (parseIpv4(value, &address))
            servers.push_back(address);
    }
    return servers;
}

bool isLoopback(quint32 address)
{
    return (address >> 24) == 127;
}

std::vector<quint32> upstreamServers(const QByteArray &resolvConf,
                                     const std::function<QByteArray()> &stubUpstream)
{
    const auto withoutLoopback = [](std::vector<quint32> list) {
        list.erase(std::remove_if(list.begin(), list.end(), isLoopback), list.end());
        return list;
    };
    const std::vector<quint32> servers = parseNameservers(resolvConf);
    if (std::any_of(servers.begin(), servers.end(), isLoopback)) {
        const std::vector<quint32> upstream = withoutLoopback(parseNameservers(stubUpstream()));
        if (!upstream.empty())
            return upstream;
    }
    return withoutLoopback(servers);
}

std::vector<quint32> hostUpstreamServers()
{
    return upstreamServers(readFile(kResolvConf), [] { return readFile(kStubUpstreamConf); });
}

} // namespace platform::resolvconf
