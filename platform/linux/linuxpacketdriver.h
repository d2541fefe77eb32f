// SPDX-License-Identifier: GPL-3.0-or-later
// The packet driver's work on behalf of one device object, on Linux kernel mechanisms.
#pragma once

#include "engine/packetbuffer.h"
#include "platform/linux/adapterport.h"
#include "platform/linux/injectiontap.h"
#include "platform/linux/ownedfd.h"
#include "platform/linux/promiscuoushold.h"
#include "platform/linux/wiresender.h"
#include "platform/packetdriverprotocol.h"

#include <map>
#include <memory>

// Adapters are addressed by interface index. Every kernel object made here (TAPs, program
// links, packet sockets) belongs to this object and goes with it, or with the process.
// Used from one thread at a time.
//
// Frames for the wire are batched (see WireSender). The engine sends only while draining a
// queue, so the batch goes out when a read finds the queue empty; a send outside a drain (the
// last read found nothing) goes out at once, as does the batch before any change of mode,
// queue or event and when the object goes. A queued frame is never held while the engine
// waits.
class LinuxPacketDriver
{
public:
    static constexpr quint32 kVersion = 0x01000000;

    // Reads what the frame rings' programs need from the kernel's type information (a few
    // milliseconds), so that the first adapter put into filtering mode starts at once.
    LinuxPacketDriver();
    LinuxPacketDriver(const LinuxPacketDriver &) = delete;
    LinuxPacketDriver &operator=(const LinuxPacketDriver &) = delete;
    ~LinuxPacketDriver();

    bool adapterList(PacketDriver::AdapterList &list);
    // One frame queued for an adapter this object filters; false at once when none is.
    bool read(quint32 adapter, PacketBuffer &buffer);
    // Onto the wire of any adapter.
    bool sendToAdapter(quint32 adapter, const PacketBuffer &buffer);
    // Up into the host's stack as if received on any adapter.
    bool sendToStack(quint32 adapter, const PacketBuffer &buffer);
    bool setMode(quint32 adapter, quint32 flags);
    bool flush(quint32 adapter);
    // `event` is a WaitEvent's native handle, or kNoEventHandle to unregister.
    bool setPacketEvent(quint32 adapter, qint32 event);
    bool setReceiveFilter(quint32 adapter, quint32 filter);
    bool receiveFilter(quint32 adapter, quint32 &filter) const;

private:
    static bool adapterExists(quint32 adapter);
    AdapterPort *port(quint32 adapter) const;

    std::map<quint32, std::unique_ptr<AdapterPort>> m_ports;       // filtered adapters
    std::map<quint32, std::unique_ptr<InjectionTap>> m_injectors;  // stack paths of the others
    std::map<quint32, OwnedFd> m_events;                           // our copy of each wait set
    std::map<quint32, std::unique_ptr<PromiscuousHold>> m_promiscuous;
    BpfPrograms::ChecksumProbe m_probe;
    WireSender m_wire;
    bool m_draining = false; // the last read gave a frame
};
