// SPDX-License-Identifier: GPL-3.0-or-later
// The program's side of the packet filter driver's control protocol.
#pragma once

#include "engine/packetbuffer.h"
#include "platform/packetdevice.h"
#include "platform/packetdriverprotocol.h"
#include "platform/waitevent.h"

#include <QtGlobal>
#include <memory>

using PacketDriver::AdapterList;

// Wraps each control request of the driver in one operation. Every operation returns false
// (driverVersion() 0xFFFFFFFF) at once, without touching the caller's records, when the
// device is not open. One object per thread: it is never shared.
//
// The driver runs with the program's own word size, so requests go in their native layout
// (32-bit adapter handles in the adapter list, native PacketRequest) and no conversion to
// a wider kernel layout is ever needed.
class CNdisApi
{
public:
    // Opens the device of the named driver (the engine uses "TRNWICK").
    explicit CNdisApi(const char *name);
    // Uses the given device (nullptr: not open).
    explicit CNdisApi(std::unique_ptr<PacketDevice> device);
    virtual ~CNdisApi();
    CNdisApi(const CNdisApi &) = delete;
    CNdisApi &operator=(const CNdisApi &) = delete;

    bool isLoaded() const;
    quint32 driverVersion();

    // The driver's adapters; the handles in it are valid for as long as the driver runs.
    bool getAdapterList(AdapterList &list);

    // Non-blocking: true with one frame in the request's buffer, false when the queue of the
    // request's adapter is empty.
    bool readPacket(PacketRequest &request);
    // Puts the buffer's frame onto the wire of the request's adapter.
    bool sendPacketToAdapter(const PacketRequest &request);
    // Gives the buffer's frame to the host's stack as if received on the request's adapter.
    bool sendPacketToStack(const PacketRequest &request);

    bool setAdapterMode(AdapterHandle adapter, quint32 flags);
    bool flushAdapterQueue(AdapterHandle adapter);
    // The event is signalled while frames are queued for the adapter; kNullEventHandle
    // unregisters.
    bool setPacketEvent(AdapterHandle adapter, EventHandle event);

    // The adapter's receive filter (PacketDriver::ReceiveFilter values).
    bool setPacketFilter(AdapterHandle adapter, quint32 filter);
    bool getPacketFilter(AdapterHandle adapter, quint32 &filter);

private:
    bool oidRequest(quint32 code, AdapterHandle adapter, PacketDriver::OidRequest &request);

    std::unique_ptr<PacketDevice> m_device;
};
