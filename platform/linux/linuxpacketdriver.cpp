// SPDX-License-Identifier: GPL-3.0-or-later
// The packet driver's work on behalf of one device object, on Linux kernel mechanisms.
#include "platform/linux/linuxpacketdriver.h"

#include "platform/linux/driveradapters.h"
#include "platform/linux/drivernames.h"
#include "platform/linux/kernelbtf.h"

#include <fcntl.h>
#include <net/if.h>
#include <sys/epoll.h>

#include <limits>

bool LinuxPacketDriver::adapterExists(quint32 adapter)
{
    char name[IF_NAMESIZE];
    return adapter > 0 && adapter <= quint32(std::numeric_limits<int>::max()) && if_indextoname(adapter, name);
}

AdapterPort *LinuxPacketDriver::port(quint32 adapter) const
{
    const auto it = m_ports.find(adapter);
    return it == m_ports.end() ? nullptr : it->second.get();
}

LinuxPacketDriver::LinuxPacketDriver()
    : m_probe(BpfPrograms::checksumProbe(KernelBtf()))
{
}

LinuxPacketDriver::~LinuxPacketDriver()
{
    m_wire.flush();
}

bool LinuxPacketDriver::adapterList(PacketDriver::AdapterList &list)
{
    return DriverAdapters::fill(list);
}

bool LinuxPacketDriver::read(quint32 adapter, PacketBuffer &buffer)
{
    AdapterPort *p = port(adapter);
    m_draining = p && p->read(buffer);
    if (!m_draining)
        m_wire.flush();
    return m_draining;
}

// Filtered adapters too: their hooks pass the socket's marked frames, so all wire frames share
// one batch.
bool LinuxPacketDriver::sendToAdapter(quint32 adapter, const PacketBuffer &buffer)
{
    if (adapter > quint32(std::numeric_limits<int>::max()))
        return false;
    const bool queued = m_wire.queue(static_cast<int>(adapter), buffer);
    if (!m_draining)
        m_wire.flush();
    return queued;
}

bool LinuxPacketDriver::sendToStack(quint32 adapter, const PacketBuffer &buffer)
{
    if (AdapterPort *p = port(adapter))
        return p->sendToStack(buffer);
    auto it = m_injectors.find(adapter);
    if (it == m_injectors.end()) {
        if (!adapterExists(adapter))
            return false;
        const int ifindex = static_cast<int>(adapter);
        auto injector = std::make_unique<InjectionTap>(DriverNames::injectTapPattern(ifindex), ifindex,
                                                       InjectionTap::ToStack);
        if (!injector->isValid())
            return false;
        it = m_injectors.emplace(adapter, std::move(injector)).first;
    }
    return it->second->tap().write(buffer);
}

bool LinuxPacketDriver::setMode(quint32 adapter, quint32 flags)
{
    m_wire.flush();
    const quint32 routing = flags & (PacketDriver::ModeFromWire | PacketDriver::ModeFromStack);
    if (routing == 0) {
        m_ports.erase(adapter); // closing the TAPs also unties them from any wait set
        return true;
    }
    AdapterPort *p = port(adapter);
    if (!p) {
        if (!adapterExists(adapter))
            return false;
        m_injectors.erase(adapter); // the port's own host TAP takes over
        auto created = std::make_unique<AdapterPort>(static_cast<int>(adapter), m_probe);
        if (!created->isValid())
            return false;
        const auto event = m_events.find(adapter);
        if (event != m_events.end() && !created->tie(event->second.get()))
            return false;
        p = m_ports.emplace(adapter, std::move(created)).first->second.get();
    }
    return p->setMode(routing);
}

bool LinuxPacketDriver::flush(quint32 adapter)
{
    m_wire.flush();
    AdapterPort *p = port(adapter);
    if (p)
        p->flush();
    return p != nullptr;
}

bool LinuxPacketDriver::setPacketEvent(quint32 adapter, qint32 event)
{
    m_wire.flush();
    AdapterPort *p = port(adapter);
    const auto old = m_events.find(adapter);
    if (old != m_events.end()) {
        if (p)
            p->untie(old->second.get());
        m_events.erase(old);
    }
    if (event == PacketDriver::kNoEventHandle)
        return true;
    if (event < 0 || !adapterExists(adapter))
        return false;
    // A copy of our own, so that the registration never points at a reused descriptor.
    OwnedFd waitSet(fcntl(event, F_DUPFD_CLOEXEC, 0));
    if (!waitSet.isValid())
        return false;
    epoll_event probe;
    if (epoll_wait(waitSet.get(), &probe, 1, 0) < 0)
        return false; // not a wait set (a zero-time look changes nothing in a level-triggered set)
    if (p && !p->tie(waitSet.get()))
        return false;
    m_events.emplace(adapter, std::move(waitSet));
    return true;
}

bool LinuxPacketDriver::setReceiveFilter(quint32 adapter, quint32 filter)
{
    if (!adapterExists(adapter))
        return false;
    if (!(filter & PacketDriver::FilterPromiscuous)) {
        m_promiscuous.erase(adapter); // back to what the adapter had before us
        return true;
    }
    if (m_promiscuous.count(adapter))
        return true;
    auto hold = std::make_unique<PromiscuousHold>(static_cast<int>(adapter));
    if (!hold->isHeld())
        return false;
    m_promiscuous.emplace(adapter, std::move(hold));
    return true;
}

bool LinuxPacketDriver::receiveFilter(quint32 adapter, quint32 &filter) const
{
    if (!adapterExists(adapter))
        return false;
    filter = m_promiscuous.count(adapter) ? quint32(PacketDriver::FilterPromiscuous) : quint32(PacketDriver::FilterNormal);
    return true;
}
