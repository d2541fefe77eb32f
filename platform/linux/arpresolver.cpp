// SPDX-License-Identifier: GPL-3.0-or-later
// Resolving a neighbour's hardware address with one ARP exchange on a packet socket.
#include "platform/hostnetwork.h"
#include "platform/linux/arppacket.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// How this works: a SOCK_DGRAM packet socket bound to the interface and to the ARP
// ethertype sends a broadcast request (RFC 826) and reads ARP packets until a reply whose
// sender is the target arrives or the time is up. The request is sent again halfway
// through, in case the first one was lost. The sender address is the interface's address
// on the target's network, else its first address, else 0.0.0.0 (an RFC 5227 probe, which
// a host answers as well).
namespace platform {

namespace {

class PacketSocket
{
public:
    explicit PacketSocket(int ifindex) : m_ifindex(ifindex)
    {
        m_fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(arp::kEtherTypeArp));
        if (m_fd < 0)
            return;
        sockaddr_ll local{};
        local.sll_family = AF_PACKET;
        local.sll_protocol = htons(arp::kEtherTypeArp);
        local.sll_ifindex = ifindex;
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~PacketSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PacketSocket(const PacketSocket &) = delete;
    PacketSocket &operator=(const PacketSocket &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    // The interface's Ethernet address, or empty when it has none.
    QByteArray hardwareAddress() const
    {
        ifreq request{};
        if (!if_indextoname(static_cast<unsigned>(m_ifindex), request.ifr_name))
            return QByteArray();
        if (::ioctl(m_fd, SIOCGIFHWADDR, &request) != 0 || request.ifr_hwaddr.sa_family != ARPHRD_ETHER)
            return QByteArray();
        return QByteArray(request.ifr_hwaddr.sa_data, arp::kHardwareLength);
    }

    bool sendBroadcast(const QByteArray &packet) const
    {
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_protocol = htons(arp::kEtherTypeArp);
        to.sll_ifindex = m_ifindex;
        to.sll_halen = arp::kHardwareLength;
        std::memset(to.sll_addr, 0xff, arp::kHardwareLength);
        const ssize_t n = ::sendto(m_fd, packet.constData(), static_cast<std::size_t>(packet.size()), 0,
                                   reinterpret_cast<sockaddr *>(&to), sizeof to);
        return n == packet.size();
    }

    // One packet that arrived on the interface, or empty when none is waiting.
    QByteArray receive() const
    {
        QByteArray buffer(2048, '\0');
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(m_fd, buffer.data(), static_cast<std::size_t>(buffer.size()), 0,
                                     reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (n <= 0 || from.sll_ifindex != m_ifindex)
            return QByteArray();
        buffer.truncate(static_cast<int>(n));
        return buffer;
    }

private:
    int m_ifindex = 0;
    int m_fd = -1;
};

quint32 senderAddress(int ifindex, quint32 target)
{
    const std::vector<AddressRecord> addresses = ipv4Addresses(ifindex);
    for (const AddressRecord &a : addresses) {
        const quint32 mask = a.prefixLength == 0 ? 0 : ~quint32(0) << (32 - a.prefixLength);
        if ((a.address & mask) == (target & mask))
            return a.address;
    }
    return addresses.empty() ? 0 : addresses.front().address;
}

// Reads waiting packets; the target's hardware address once its reply is among them.
QByteArray drainForReply(const PacketSocket &socket, quint32 target)
{
    while (true) {
        const QByteArray packet = socket.receive();
        if (packet.isEmpty())
            return QByteArray();
        const auto reply = arp::parseReply(packet);
        if (reply && reply->senderAddress == target)
            return reply->senderMac;
    }
}

} // namespace

QByteArray resolveHardwareAddress(int ifindex, quint32 target, int timeoutMs)
{
    if (ifindex <= 0 || target == 0 || timeoutMs <= 0)
        return QByteArray();
    PacketSocket socket(ifindex);
    const QByteArray ownMac = socket.isOpen() ? socket.hardwareAddress() : QByteArray();
    if (ownMac.isEmpty())
        return QByteArray();
    const QByteArray request = arp::buildRequest(ownMac, senderAddress(ifindex, target), target);
    if (!socket.sendBroadcast(request))
        return QByteArray();
    QElapsedTimer clock;
    clock.start();
    bool resent = false;
    while (clock.elapsed() < timeoutMs) {
        if (!resent && clock.elapsed() >= timeoutMs / 2) {
            socket.sendBroadcast(request);
            resent = true;
        }
        const qint64 untilResend = resent ? timeoutMs - clock.elapsed() : timeoutMs / 2 - clock.elapsed();
        pollfd entry{socket.fd(), POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(qMax<qint64>(1, untilResend)));
        if (ready < 0 && errno != EINTR)
            return QByteArray();
        if (ready > 0) {
            const QByteArray mac = drainForReply(socket, target);
            if (!mac.isEmpty())
                return mac;
        }
    }
    return QByteArray();
}

QByteArray resolveHardwareAddress(quint32 target, int timeoutMs)
{
    const RouteRecord *best = nullptr;
    const std::vector<RouteRecord> rows = ipv4Routes();
    for (const RouteRecord &row : rows) {
        if ((target & row.mask) != row.destination)
            continue;
        if (!best || row.mask > best->mask || (row.mask == best->mask && row.metric < best->metric))
            best = &row;
    }
    return best ? resolveHardwareAddress(best->ifindex, target, timeoutMs) : QByteArray();
}

} // namespace platform
