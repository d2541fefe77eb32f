// SPDX-License-Identifier: GPL-3.0-or-later
// BroadcastSocket on Linux: a wildcard UDP socket tied to one device, sending with IP_PKTINFO.
//
// How this works: Linux delivers datagrams for 255.255.255.255 only to sockets bound to the
// wildcard address, so the socket binds 0.0.0.0:port and SO_BINDTODEVICE restricts it to
// the interface that holds the local address; it then hears that interface alone, unicast
// and broadcast. Each send carries an IP_PKTINFO control message whose ipi_spec_dst is the
// local address, which makes it the source of the datagram (ip(7)), while SO_BINDTODEVICE
// sends broadcasts out of that same interface.
#include "platform/broadcastsocket.h"

#include <QSocketNotifier>
#include <QtEndian>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxDatagram = 65536;

// The name of the interface carrying the IPv4 address (network order), or empty.
QByteArray interfaceHolding(quint32 address)
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    QByteArray name;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        const auto *in = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr);
        if (in->sin_addr.s_addr == address) {
            name = entry->ifa_name;
            break;
        }
    }
    freeifaddrs(list);
    return name;
}

bool enable(int fd, int option)
{
    const int one = 1;
    return setsockopt(fd, SOL_SOCKET, option, &one, sizeof one) == 0;
}

int openBound(const QByteArray &device, quint16 port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!enable(fd, SO_REUSEADDR) || !enable(fd, SO_BROADCAST)
        || setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.constData(),
                      socklen_t(device.size())) != 0
        || ::bind(fd, reinterpret_cast<const sockaddr *>(&any), sizeof any) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

BroadcastSocket::BroadcastSocket(QObject *parent) : QObject(parent) {}

BroadcastSocket::~BroadcastSocket()
{
    close();
}

bool BroadcastSocket::bind(const QHostAddress &local, quint16 port)
{
    close();
    if (local.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    const quint32 address = qToBigEndian<quint32>(local.toIPv4Address());
    const QByteArray device = interfaceHolding(address);
    if (device.isEmpty())
        return false;
    m_fd = openBound(device, port);
    if (m_fd < 0)
        return false;
    m_local = address;
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &BroadcastSocket::readyRead);
    return true;
}

void BroadcastSocket::close()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_local = 0;
}

bool BroadcastSocket::isBound() const
{
    return m_fd >= 0;
}

std::optional<BroadcastSocket::Datagram> BroadcastSocket::receive()
{
    if (m_fd < 0)
        return std::nullopt;
    QByteArray buffer(int(kMaxDatagram), '\0');
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t got;
    do {
        got = recvfrom(m_fd, buffer.data(), kMaxDatagram, 0,
                       reinterpret_cast<sockaddr *>(&from), &fromLength);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return std::nullopt;
    buffer.truncate(int(got));
    Datagram datagram;
    datagram.data = buffer;
    datagram.sender = QHostAddress(qFromBigEndian<quint32>(from.sin_addr.s_addr));
    datagram.senderPort = ntohs(from.sin_port);
    return datagram;
}

bool BroadcastSocket::send(const QByteArray &data, const QHostAddress &destination, quint16 port)
{
    if (m_fd < 0 || destination.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = qToBigEndian<quint32>(destination.toIPv4Address());

    iovec payload{const_cast<char *>(data.constData()), std::size_t(data.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = m_local;
    std::memcpy(CMSG_DATA(header), &info, sizeof info);

    ssize_t sent;
    do {
        sent = sendmsg(m_fd, &message, 0);
    } while (sent < 0 && errno == EINTR);
    return sent == data.size();
}
