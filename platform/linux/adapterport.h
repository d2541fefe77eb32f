// SPDX-License-Identifier: GPL-3.0-or-later
// One adapter in filtering mode: its two queues (frame ring and TAP each) and the programs that fill them.
#pragma once

#include "engine/packetbuffer.h"
#include "platform/linux/bpfprograms.h"
#include "platform/linux/framering.h"
#include "platform/linux/injectiontap.h"
#include "platform/linux/ownedfd.h"

#include <QtGlobal>

#include <memory>

// How this works: the wire TAP receives what arrives on the adapter (its ingress program
// redirects there) and takes frames for the adapter's wire; the host TAP receives what the
// host's stack sends on the adapter (its egress program) and takes frames for the host's
// stack. The mode decides which adapter hooks are attached; the TAPs exist as long as the
// port does. Everything is released with the object.
//
// Each queue also has a frame ring, which the hook fills with every frame that fits a
// PacketBuffer and needs nothing more from the kernel; the TAP takes the rest (GSO frames,
// frames with partial checksums, overflow of a full ring). A queue is read ring first,
// then TAP; after an overflow the TAP takes every frame until it was read empty, so the
// frames of a burst larger than the ring keep their order (see readQueue). When the kernel refuses rings (or
// `probe` is not valid), the hooks redirect everything to the TAPs, as without rings.
class AdapterPort
{
public:
    AdapterPort(int ifindex, const BpfPrograms::ChecksumProbe &probe);

    bool isValid() const { return m_wire.isValid() && m_host.isValid() && m_ingressProgram.isValid() && m_egressProgram.isValid(); }
    // True when both queues have their frame ring.
    bool hasRings() const { return m_wireRing && m_hostRing; }

    // Attaches or detaches the adapter's hooks: ModeFromWire the ingress hook, ModeFromStack
    // the egress hook. Other bits are ignored.
    bool setMode(quint32 flags);

    // One queued frame, wire and host queues taken in turn (a queue found empty is looked at
    // again at least every kIdleRecheck frames); false at once when both are empty.
    bool read(PacketBuffer &buffer);
    bool sendToWire(const PacketBuffer &buffer) { return m_wire.tap().write(buffer); }
    bool sendToStack(const PacketBuffer &buffer) { return m_host.tap().write(buffer); }
    void flush();

    // Ties both queues (rings and TAPs) to a wait set (see WaitEvent), or unties them.
    bool tie(int waitSetFd);
    void untie(int waitSetFd);

private:
    using Queue = int;
    static constexpr Queue WireQueue = 0;
    static constexpr Queue HostQueue = 1;
    static constexpr int kIdleRecheck = 16;

    bool readQueue(Queue queue, PacketBuffer &buffer);
    TapDevice &queueTap(Queue queue);
    FrameRing *queueRing(Queue queue) const;
    void makeRings(const BpfPrograms::ChecksumProbe &probe);

    int m_ifindex;
    InjectionTap m_wire;
    InjectionTap m_host;
    std::unique_ptr<FrameRing> m_wireRing; // null: TAP only
    std::unique_ptr<FrameRing> m_hostRing;
    OwnedFd m_ingressProgram;
    OwnedFd m_egressProgram;
    TcxLink m_ingress;
    TcxLink m_egress;
    Queue m_next = WireQueue;          // whose turn it is
    bool m_idle[2] = {false, false};   // the queue was empty at its last read
    int m_sinceRecheck = 0;            // frames read while the other queue was skipped as idle
};
