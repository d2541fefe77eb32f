// SPDX-License-Identifier: GPL-3.0-or-later
// Puts frames onto the wire of any adapter, past the packet driver's own egress hook.
#include "platform/linux/wiresender.h"

#include "platform/linux/drivernames.h"

#include <QLoggingCategory>

#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {
Q_LOGGING_CATEGORY(lcWire, "tarnwick.driver.wire")
constexpr quint32 kEthernetHeaderSize = 14;
}

bool WireSender::open()
{
    // Protocol 0: the socket sends only and never receives a frame.
    OwnedFd sock(::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!sock.isValid()) {
        qCWarning(lcWire, "cannot open a packet socket: %s", std::strerror(errno));
        return false;
    }
    const int mark = static_cast<int>(DriverNames::kFrameMark);
    if (setsockopt(sock.get(), SOL_SOCKET, SO_MARK, &mark, sizeof mark) != 0) {
        qCWarning(lcWire, "cannot mark the packet socket (needs CAP_NET_ADMIN): %s", std::strerror(errno));
        return false;
    }
    m_socket = std::move(sock);
    return true;
}

bool WireSender::send(int ifindex, const PacketBuffer &buffer)
{
    if (buffer.length < kEthernetHeaderSize || buffer.length > sizeof buffer.frame || ifindex <= 0)
        return false;
    if (!m_socket.isValid() && !open())
        return false;
    sockaddr_ll to;
    std::memset(&to, 0, sizeof to);
    to.sll_family = AF_PACKET;
    to.sll_ifindex = ifindex;
    to.sll_halen = ETH_ALEN;
    std::memcpy(to.sll_addr, buffer.frame, ETH_ALEN);
    ssize_t n;
    do {
        n = ::sendto(m_socket.get(), buffer.frame, buffer.length, 0,
                     reinterpret_cast<const sockaddr *>(&to), sizeof to);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(buffer.length);
}
