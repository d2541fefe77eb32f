// SPDX-License-Identifier: GPL-3.0-or-later
// NDISEngine: one engine thread, bound to one driver adapter, deciding every frame it reads.
#pragma once

#include "engine/adapterbinding.h"
#include "engine/cndisapi.h"
#include "engine/forwarder.h"
#include "engine/framesender.h"
#include "engine/reassembler.h"
#include "platform/waitevent.h"
#include "spot/networkinterface.h"

#include <QHostAddress>
#include <QList>
#include <QThread>
#include <QTimer>
#include <memory>

// How this works: run() binds the own and the other interface by name to the driver's
// adapters, registers the packet event for the own adapter, sets its receive filter and
// then its mode (router: 0x03 private, 0x02 public; bridge: 0x53 with promiscuous reception
// for a wired adapter, else 0x03), and loops: wait for the stop or the packet event; on a
// packet event reset it and drain the queue completely, handing each frame to the mode's
// forwarder. The packet event is tied to the adapter's queues by the driver, so a frame
// that arrives during the drain keeps it signalled and is read at the latest on the next
// turn of the loop. On stop: unregister the event, mode 0, flush the queue.
//
// The engine threads go where the scheduler puts them. Both real modes send most frames
// from one wire to the other, so the two engines work in parallel; keeping both on the
// processor they were made on was measured to cost half of router mode's TCP throughput.

// If either interface is not among the driver's adapters the thread ends at once without
// touching any adapter; stop() still joins it.
//
// The purge timer lives in the thread that made the engine (its slot runs there), the
// reassembly table is used by the engine thread; the Reassembler serialises the two.
class NDISEngine : public QThread, private FrameSender
{
    Q_OBJECT

public:
    NDISEngine(int mode, const QHostAddress &ownAddress, const QHostAddress &otherAddress,
               const NetworkInterface &ownInterface, const NetworkInterface &otherInterface,
               int direction, ARPTable *users, ARPProxy *proxy, NATService *translator,
               UpTime *clock, ForwarderFactory forwarders);
    ~NDISEngine() override;

    // Asks the thread to end; the caller then waits for it.
    void requestStop();

    // The host interfaces that are among the driver's adapters, in adapter-list order.
    static QList<NetworkInterface> boundInterfaces();

    // The adapter mode and receive filter an engine sets on its own adapter.
    static quint32 adapterMode(int mode, int direction, int ownKind);
    static quint32 receiveFilter(int mode, int ownKind);

protected:
    void run() override;

private slots:
    void timeout();

private:
    bool bind();
    void drain(Forwarder &forwarder);
    void shutdown();
    void send(PacketRequest &request, SendRoute route, AdapterHandle adapter,
              const IPv4View *packet) override;
    void sendFragments(PacketRequest &request, const IPv4View &packet);
    void sendFrame(const PacketRequest &request);

    const int m_mode;
    const QHostAddress m_ownAddress;
    const QHostAddress m_otherAddress;
    const NetworkInterface m_ownInterface;
    const NetworkInterface m_otherInterface;
    const int m_direction;
    ARPTable *const m_users;
    ARPProxy *const m_proxy;
    NATService *const m_translator;
    UpTime *const m_clock;
    const ForwarderFactory m_forwarders;

    WaitEvent m_stopEvent;
    WaitEvent m_packetEvent;
    CNdisApi m_driver;
    AdapterBinding m_own;
    AdapterBinding m_other;
    Reassembler m_reassembler;
    QTimer m_purgeTimer;
    std::unique_ptr<PacketBuffer[]> m_buffers; // two records: read, and bridge copy
    PacketRequest m_read{};
    PacketRequest m_copy{};
};
