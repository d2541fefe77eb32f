// SPDX-License-Identifier: GPL-3.0-or-later
// One adapter in filtering mode: its two TAP queues and the programs that fill them.
#include "platform/linux/adapterport.h"

#include "platform/linux/bpfprograms.h"
#include "platform/linux/drivernames.h"
#include "platform/packetdriverprotocol.h"

#include <cerrno>
#include <sys/epoll.h>

AdapterPort::AdapterPort(int ifindex)
    : m_ifindex(ifindex)
    , m_wire(DriverNames::wireTapName(ifindex), ifindex, InjectionTap::ToWire)
    , m_host(DriverNames::hostTapName(ifindex), ifindex, InjectionTap::ToStack)
{
    if (!m_wire.isValid() || !m_host.isValid())
        return;
    m_ingressProgram = BpfPrograms::load(BpfPrograms::adapterHook(m_wire.tap().ifindex()), "adapter ingress");
    m_egressProgram = BpfPrograms::load(BpfPrograms::adapterHook(m_host.tap().ifindex()), "adapter egress");
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
        if (queueTap(queue).read(buffer)) {
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

TapDevice &AdapterPort::queueTap(Queue queue)
{
    return queue == HostQueue ? m_host.tap() : m_wire.tap();
}

void AdapterPort::flush()
{
    m_wire.tap().drain();
    m_host.tap().drain();
}

bool AdapterPort::tie(int waitSetFd)
{
    for (TapDevice *tap : {&m_wire.tap(), &m_host.tap()}) {
        epoll_event ev{};
        ev.events = EPOLLIN; // level-triggered: signalled while anything is queued
        ev.data.fd = tap->fd();
        if (epoll_ctl(waitSetFd, EPOLL_CTL_ADD, tap->fd(), &ev) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

void AdapterPort::untie(int waitSetFd)
{
    for (TapDevice *tap : {&m_wire.tap(), &m_host.tap()})
        epoll_ctl(waitSetFd, EPOLL_CTL_DEL, tap->fd(), nullptr);
}
