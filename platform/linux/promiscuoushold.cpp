// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps an adapter in promiscuous mode for as long as the object lives.
#include "platform/linux/promiscuoushold.h"

#include <QLoggingCategory>

#include <linux/if_packet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {
Q_LOGGING_CATEGORY(lcPromisc, "tarnwick.driver.promisc")
}

PromiscuousHold::PromiscuousHold(int ifindex)
{
    OwnedFd sock(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0));
    if (!sock.isValid()) {
        qCWarning(lcPromisc, "cannot open a packet socket: %s", std::strerror(errno));
        return;
    }
    packet_mreq mreq;
    std::memset(&mreq, 0, sizeof mreq);
    mreq.mr_ifindex = ifindex;
    mreq.mr_type = PACKET_MR_PROMISC;
    if (setsockopt(sock.get(), SOL_PACKET, PACKET_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
        qCWarning(lcPromisc, "cannot make interface %d promiscuous: %s", ifindex, std::strerror(errno));
        return;
    }
    m_socket = std::move(sock);
}
