// SPDX-License-Identifier: GPL-3.0-or-later
// One adapter in filtering mode: its two queues (frame ring and TAP each) and the programs that fill them.
#include "platform/linux/adapterport.h"

#include "platform/linux/bpfprograms.h"
#include "platform/linux/drivernames.h"
#include "platform/packetdriverprotocol.h"

#include <QLoggingCategory>

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>

namespace {
Q_LOGGING_CATEGORY(lcPort, "tarnwick.driver.port")
}

AdapterPort::AdapterPort(int ifindex, const BpfPrograms::ChecksumProbe &probe)
    : m_ifindex(ifindex)
    , m_wire(DriverNames::wireTapName(ifindex), ifindex, InjectionTap::ToWire)
    , m_host(DriverNames::hostTapName(ifindex), ifindex, InjectionTap::ToStack)
{
    if (!m_wire.isValid() || !m_host.isValid())
        return;
    makeRings(probe);
    if (hasRings())
        return;
    m_ingressProgram = BpfPrograms::load(BpfPrograms::adapterHook(m_wire.tap().ifindex()), "adapter ingress");
    m_egressProgram = BpfPrograms::load(BpfPrograms::adapterHook(m_host.tap().ifindex()), "adapter egress");
}

// Rings and their programs, or neither (one warning says why).
void AdapterPort::makeRings(const BpfPrograms::ChecksumProbe &probe)
{
    if (!probe.valid) {
        qCWarning(lcPort, "the kernel's type information lacks what the frame rings need; frames of adapter %d are read from TAPs only",
                  m_ifindex);
        return;
    }
    auto wireRing = std::make_unique<FrameRing>();
    auto hostRing = std::make_unique<FrameRing>();
    for (const FrameRing *ring : {wireRing.get(), hostRing.get()})
        if (!ring->isValid()) {
            qCWarning(lcPort, "the kernel refused a frame ring (%s); frames of adapter %d are read from TAPs only",
                      std::strerror(ring->error()), m_ifindex);
            return;
        }
    m_ingressProgram = BpfPrograms::load(BpfPrograms::adapterRingHook(m_wire.tap().ifindex(), *wireRing, probe),
                                         "adapter ingress (ring)");
    m_egressProgram = BpfPrograms::load(BpfPrograms::adapterRingHook(m_host.tap().ifindex(), *hostRing, probe),
                                        "adapter egress (ring)");
    if (!m_ingressProgram.isValid() || !m_egressProgram.isValid()) {
        m_ingressProgram.reset();
        m_egressProgram.reset();
        return; // load() said why; the TAP-only programs follow
    }
    m_wireRing = std::move(wireRing);
    m_hostRing = std::move(hostRing);
}

bool AdapterPort::setMode(quint32 flags)
{
    if (!isValid())
        return false;
    const bool wantIngress = flags & PacketDriver::ModeFromWire;
    const bool wantEgress = flags & PacketDriver::ModeFromStack;
    if (wantIngress && !m_ingress.isAttached())
        m_ingress = TcxLink(m_ingressProgram.get(), m_ifindex, TcxLink::Ingress);
    if (!wantIngress)
        m_ingress.detach();
    if (wantEgress && !m_egress.isAttached())
        m_egress = TcxLink(m_egressProgram.get(), m_ifindex, TcxLink::Egress);
    if (!wantEgress)
        m_egress.detach();
    return m_ingress.isAttached() == wantIngress && m_egress.isAttached() == wantEgress;
}

// The queues are taken in turn, but a queue that was empty at its last read is skipped in
// favour of the other one until kIdleRecheck frames have come from that other one: an
// empty read costs a system call and yields nothing. The read only fails after both
// queues were found empty, so a drain still ends with an empty driver queue.
bool AdapterPort::read(PacketBuffer &buffer)
{
    Queue first = m_next;
    if (m_idle[first] && !m_idle[1 - first] && m_sinceRecheck < kIdleRecheck)
        first = 1 - first;
    for (Queue queue : {first, 1 - first}) {
        if (readQueue(queue, buffer)) {
            m_sinceRecheck = m_idle[1 - queue] ? m_sinceRecheck + 1 : 0;
            m_idle[queue] = false;
            m_next = 1 - queue;
            buffer.direction = queue == HostQueue ? PacketFromStack : PacketFromWire;
            return true;
        }
        m_idle[queue] = true;
        m_sinceRecheck = 0;
    }
    return false;
}

// The ring first: it holds the older frames, and reading it costs no system call. Once the
// ring overflowed, the program sends everything to the TAP (the spill word is up) until
// both ring and TAP were read empty; then the ring takes frames again. Frames that raced
// the end of the spill are looked for at once.
bool AdapterPort::readQueue(Queue queue, PacketBuffer &buffer)
{
    FrameRing *ring = queueRing(queue);
    TapDevice &tap = queueTap(queue);
    if (!ring)
        return tap.read(buffer);
    if (ring->read(buffer) || tap.read(buffer))
        return true;
    if (!ring->spilling())
        return false;
    ring->endSpill();
    return ring->read(buffer) || tap.read(buffer);
}

TapDevice &AdapterPort::queueTap(Queue queue)
{
    return queue == HostQueue ? m_host.tap() : m_wire.tap();
}

FrameRing *AdapterPort::queueRing(Queue queue) const
{
    return queue == HostQueue ? m_hostRing.get() : m_wireRing.get();
}

void AdapterPort::flush()
{
    for (Queue queue : {WireQueue, HostQueue}) {
        FrameRing *ring = queueRing(queue);
        if (ring)
            ring->drain();
        queueTap(queue).drain();
        if (ring)
            ring->endSpill();
    }
}

// A ring's descriptor is readable while a record waits that the consumer has not seen
// (FrameRing states the wake-up rule); a TAP's while a frame waits. Level-triggered both.
bool AdapterPort::tie(int waitSetFd)
{
    for (Queue queue : {WireQueue, HostQueue}) {
        const FrameRing *ring = queueRing(queue);
        for (int fd : {ring ? ring->fd() : -1, queueTap(queue).fd()}) {
            if (fd < 0)
                continue;
            epoll_event ev{};
            ev.events = EPOLLIN; // level-triggered: signalled while anything is queued
            ev.data.fd = fd;
            if (epoll_ctl(waitSetFd, EPOLL_CTL_ADD, fd, &ev) != 0 && errno != EEXIST)
                return false;
        }
    }
    return true;
}

void AdapterPort::untie(int waitSetFd)
{
    for (Queue queue : {WireQueue, HostQueue}) {
        if (const FrameRing *ring = queueRing(queue))
            epoll_ctl(waitSetFd, EPOLL_CTL_DEL, ring->fd(), nullptr);
        epoll_ctl(waitSetFd, EPOLL_CTL_DEL, queueTap(queue).fd(), nullptr);
    }
}
