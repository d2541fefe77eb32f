// SPDX-License-Identifier: GPL-3.0-or-later
// A TAP device owned by the process.
#include "platform/linux/tapdevice.h"

#include <QFile>
#include <QLoggingCategory>

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

Q_LOGGING_CATEGORY(lcTap, "tarnwick.driver.tap")

constexpr int kTxQueueLength = 10000;
constexpr std::size_t kOverflowSize = 65536;

ifreq requestFor(const QByteArray &name)
{
    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::strncpy(ifr.ifr_name, name.constData(), IFNAMSIZ - 1);
    return ifr;
}

void writeSysctl(const QByteArray &path, const QByteArray &value)
{
    QFile file(QString::fromLocal8Bit(path));
    if (file.open(QIODevice::WriteOnly))
        file.write(value);
}

// A persistent TAP of that name left by an earlier run: attach, drop persistence, close.
void removeLeftover(const QByteArray &name)
{
    if (if_nametoindex(name.constData()) == 0)
        return;
    OwnedFd fd(::open("/dev/net/tun", O_RDWR | O_CLOEXEC));
    ifreq ifr = requestFor(name);
    ifr.ifr_flags = IFF_TAP | IFF_NO_PI;
    if (fd.isValid() && ioctl(fd.get(), TUNSETIFF, &ifr) == 0) {
        ioctl(fd.get(), TUNSETPERSIST, 0);
        qCInfo(lcTap, "removed leftover TAP %s", name.constData());
    }
}

} // namespace

TapDevice::TapDevice(const QByteArray &name)
{
    if (name.size() >= IFNAMSIZ) {
        qCWarning(lcTap, "TAP name %s is too long", name.constData());
        return;
    }
    if (!name.contains("%d"))
        removeLeftover(name);
    if (!attach(name) || !configure()) {
        m_fd.reset();
        m_ifindex = 0;
        return;
    }
    m_overflow.resize(kOverflowSize);
}

bool TapDevice::attach(const QByteArray &name)
{
    m_fd = OwnedFd(::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!m_fd.isValid()) {
        qCWarning(lcTap, "cannot open /dev/net/tun: %s", std::strerror(errno));
        return false;
    }
    ifreq ifr = requestFor(name);
    ifr.ifr_flags = IFF_TAP | IFF_NO_PI;
    if (if_nametoindex(name.constData()) != 0) {
        qCWarning(lcTap, "TAP %s is in use by another owner", name.constData());
        return false;
    }
    if (ioctl(m_fd.get(), TUNSETIFF, &ifr) != 0) {
        qCWarning(lcTap, "cannot create TAP %s: %s", name.constData(), std::strerror(errno));
        return false;
    }
    m_name = QByteArray(ifr.ifr_name);
    m_ifindex = static_cast<int>(if_nametoindex(ifr.ifr_name));
    return m_ifindex > 0;
}

bool TapDevice::configure()
{
    const QByteArray conf = "/proc/sys/net/ipv6/conf/" + m_name + '/';
    writeSysctl(conf + "disable_ipv6", "1");
    writeSysctl(conf + "addr_gen_mode", "1");
    OwnedFd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock.isValid())
        return false;
    ifreq ifr = requestFor(m_name);
    ifr.ifr_qlen = kTxQueueLength;
    if (ioctl(sock.get(), SIOCSIFTXQLEN, &ifr) != 0)
        qCWarning(lcTap, "cannot lengthen the queue of %s: %s", m_name.constData(), std::strerror(errno));
    return true;
}

bool TapDevice::bringUp()
{
    OwnedFd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq ifr = requestFor(m_name);
    if (!sock.isValid() || ioctl(sock.get(), SIOCGIFFLAGS, &ifr) != 0)
        return false;
    ifr.ifr_flags |= IFF_UP;
    if (ioctl(sock.get(), SIOCSIFFLAGS, &ifr) != 0) {
        qCWarning(lcTap, "cannot bring %s up: %s", m_name.constData(), std::strerror(errno));
        return false;
    }
    return true;
}

bool TapDevice::read(PacketBuffer &buffer)
{
    if (!isValid())
        return false;
    for (;;) {
        iovec parts[2] = {{buffer.frame, sizeof buffer.frame}, {m_overflow.data(), m_overflow.size()}};
        const ssize_t n = ::readv(m_fd.get(), parts, 2);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // EAGAIN: the queue is empty
        if (static_cast<std::size_t>(n) > sizeof buffer.frame)
            continue; // larger than any frame the engine takes: dropped
        buffer.length = static_cast<quint32>(n);
        return true;
    }
}

bool TapDevice::write(const PacketBuffer &buffer)
{
    if (!isValid() || buffer.length == 0 || buffer.length > sizeof buffer.frame)
        return false;
    ssize_t n;
    do {
        n = ::write(m_fd.get(), buffer.frame, buffer.length);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(buffer.length);
}

void TapDevice::drain()
{
    if (!isValid())
        return;
    for (;;) {
        const ssize_t n = ::read(m_fd.get(), m_overflow.data(), m_overflow.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
    }
}
