// SPDX-License-Identifier: GPL-3.0-or-later
// Puts frames onto the wire of any adapter, past the packet driver's own egress hook.
#include "platform/linux/wiresender.h"

#include "platform/linux/drivernames.h"

#include <QLoggingCategory>

#include <net/ethernet.h>
#include <net/if.h>

#include <algorithm>
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

// Looks the adapter up once; later frames for it cost no system call.
bool WireSender::known(int ifindex)
{
    if (std::find(m_known.begin(), m_known.end(), ifindex) != m_known.end())
        return true;
    char name[IF_NAMESIZE];
    if (!if_indextoname(static_cast<unsigned>(ifindex), name))
        return false;
    m_known.push_back(ifindex);
    return true;
}

bool WireSender::queue(int ifindex, const PacketBuffer &buffer)
{
    if (buffer.length < kEthernetHeaderSize || buffer.length > sizeof buffer.frame || ifindex <= 0)
        return false;
    if ((!m_socket.isValid() && !open()) || !known(ifindex))
        return false;
    Slot &slot = m_slots[m_count];
    std::memset(&slot.to, 0, sizeof slot.to);
    slot.to.sll_family = AF_PACKET;
    slot.to.sll_ifindex = ifindex;
    slot.to.sll_halen = ETH_ALEN;
    std::memcpy(slot.to.sll_addr, buffer.frame, ETH_ALEN);
    std::memcpy(slot.frame, buffer.frame, buffer.length);
    slot.vector = {slot.frame, buffer.length};
    mmsghdr &message = m_messages[m_count];
    std::memset(&message, 0, sizeof message);
    message.msg_hdr.msg_name = &slot.to;
    message.msg_hdr.msg_namelen = sizeof slot.to;
    message.msg_hdr.msg_iov = &slot.vector;
    message.msg_hdr.msg_iovlen = 1;
    if (++m_count == kBatchSize)
        flush();
    return true;
}

// A frame the kernel refuses (adapter gone or down) is skipped so the rest still go; a full
// queue drops what is left of the batch.
void WireSender::flush()
{
    int next = 0;
    while (next < m_count) {
        const int sent = ::sendmmsg(m_socket.get(), &m_messages[next], unsigned(m_count - next), 0);
        if (sent > 0)
            next += sent;
        else if (errno == EAGAIN || errno == ENOBUFS)
            break;
        else if (errno != EINTR)
            ++next;
    }
    m_count = 0;
}
