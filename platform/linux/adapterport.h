// SPDX-License-Identifier: GPL-3.0-or-later
// One adapter in filtering mode: its two TAP queues and the programs that fill them.
#pragma once

#include "engine/packetbuffer.h"
#include "platform/linux/injectiontap.h"
#include "platform/linux/ownedfd.h"

#include <QtGlobal>

// How this works: the wire TAP receives what arrives on the adapter (its ingress program
// redirects there) and takes frames for the adapter's wire; the host TAP receives what the
// host's stack sends on the adapter (its egress program) and takes frames for the host's
// stack. The mode decides which adapter hooks are attached; the TAPs exist as long as the
// port does. Everything is released with the object.
class AdapterPort
{
public:
    explicit AdapterPort(int ifindex);

    bool isValid() const { return m_wire.isValid() && m_host.isValid() && m_ingressProgram.isValid() && m_egressProgram.isValid(); }

    // Attaches or detaches the adapter's hooks: ModeFromWire the ingress hook, ModeFromStack
    // the egress hook. Other bits are ignored.
    bool setMode(quint32 flags);

    // One queued frame, wire and host queues taken in turn (a queue found empty is looked at
    // again at least every kIdleRecheck frames); false at once when both are empty.
    bool read(PacketBuffer &buffer);
    bool sendToWire(const PacketBuffer &buffer) { return m_wire.tap().write(buffer); }
    bool sendToStack(const PacketBuffer &buffer) { return m_host.tap().write(buffer); }
    void flush();

    // Ties both queues to a wait set (see WaitEvent), or unties them.
    bool tie(int waitSetFd);
    void untie(int waitSetFd);

private:
    using Queue = int;
    static constexpr Queue WireQueue = 0;
    static constexpr Queue HostQueue = 1;
    static constexpr int kIdleRecheck = 16;

    TapDevice &queueTap(Queue queue);

    int m_ifindex;
    InjectionTap m_wire;
    InjectionTap m_host;
    OwnedFd m_ingressProgram;
    OwnedFd m_egressProgram;
    TcxLink m_ingress;
    TcxLink m_egress;
    Queue m_next = WireQueue;          // whose turn it is
    bool m_idle[2] = {false, false};   // the queue was empty at its last read
    int m_sinceRecheck = 0;            // frames read while the other queue was skipped as idle
};
