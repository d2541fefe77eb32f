// SPDX-License-Identifier: GPL-3.0-or-later
// WaitEvent on Linux: an eventfd flag inside a level-triggered epoll set.
//
// How this works: the event's own flag is an eventfd whose counter is non-zero while set.
// The native handle is an epoll instance that watches the flag (level-triggered) and any
// descriptor the driver ties to the event; an epoll descriptor is itself readable while
// one of its watched descriptors is ready, so "signalled" is simply "the epoll descriptor
// is readable", and waiting on two events is one poll() over their epoll descriptors.
//
// The engine resets its packet event on every wake-up although only the driver's queues
// signal it; reset() therefore reads the flag only when set() wrote it. set() writes the
// flag before it raises m_flagWritten, so a reset() that finds the mark lowered can at
// worst leave a concurrent set() signalled, which is one of the two valid outcomes of a set
// racing a reset; a set() that returned before reset() began is always cleared.
#include "platform/waitevent.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

static_assert(std::atomic<bool>::is_always_lock_free, "set() must be safe in a signal handler");

WaitEvent::WaitEvent()
{
    m_flagFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_waitSetFd = epoll_create1(EPOLL_CLOEXEC);
    if (m_flagFd < 0 || m_waitSetFd < 0)
        return;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = m_flagFd;
    if (epoll_ctl(m_waitSetFd, EPOLL_CTL_ADD, m_flagFd, &ev) != 0) {
        close(m_waitSetFd);
        m_waitSetFd = -1;
    }
}

WaitEvent::~WaitEvent()
{
    if (m_waitSetFd >= 0)
        close(m_waitSetFd);
    if (m_flagFd >= 0)
        close(m_flagFd);
}

bool WaitEvent::isValid() const
{
    return m_flagFd >= 0 && m_waitSetFd >= 0;
}

void WaitEvent::set()
{
    if (m_flagFd < 0)
        return;
    const std::uint64_t one = 1;
    // Only write() and a lock-free store: set() may be called from a signal handler.
    while (write(m_flagFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
    m_flagWritten.store(true, std::memory_order_release);
}

void WaitEvent::reset()
{
    if (m_flagFd < 0 || !m_flagWritten.exchange(false, std::memory_order_acq_rel))
        return;
    std::uint64_t value = 0;
    while (read(m_flagFd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool WaitEvent::isSignalled() const
{
    if (m_waitSetFd < 0)
        return false;
    pollfd p{m_waitSetFd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

EventHandle WaitEvent::nativeHandle() const
{
    return isValid() ? m_waitSetFd : kNullEventHandle;
}

WaitEvent::WaitResult WaitEvent::waitAny(const WaitEvent &first, const WaitEvent &second, int timeoutMs)
{
    if (!first.isValid() || !second.isValid())
        return WaitFailed;
    pollfd p[2] = {{first.m_waitSetFd, POLLIN, 0}, {second.m_waitSetFd, POLLIN, 0}};
    int n;
    do {
        n = poll(p, 2, timeoutMs < 0 ? -1 : timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return WaitFailed;
    if (n == 0)
        return TimedOut;
    if (p[0].revents & POLLIN)
        return FirstSignalled;
    if (p[1].revents & POLLIN)
        return SecondSignalled;
    return WaitFailed; // POLLERR/POLLNVAL only
}
