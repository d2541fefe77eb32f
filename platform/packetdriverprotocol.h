// SPDX-License-Identifier: GPL-3.0-or-later
// Control codes and request records of the packet filter driver's control protocol.
//
// How this works: every request is one control call on the driver's device, naming a
// control code and handing over an input record and an output record. Codes are buffered
// control codes of device type 0x8300, any access, function 0x830 + n, i.e.
// 0x830020C0 + 4 * n. The records below use the layout of a driver that runs with the same
// word size as the program: adapter handles in the adapter list and in the handle-taking
// requests are 32-bit values, and a PacketRequest carries a native pointer.
#pragma once

#include "engine/packetbuffer.h"

#include <QtGlobal>
#include <cstddef>

namespace PacketDriver {

constexpr quint32 controlCode(quint32 n)
{
    return 0x830020C0u + 4u * n;
}

enum Control : quint32 {
    ControlVersion = controlCode(0),
    ControlAdapterList = controlCode(1),
    ControlSendToAdapter = controlCode(2),
    ControlSendToStack = controlCode(3),
    ControlReadPacket = controlCode(4),
    ControlSetAdapterMode = controlCode(5),
    ControlFlushQueue = controlCode(6),
    ControlSetPacketEvent = controlCode(7),
    ControlOidSet = controlCode(8),
    ControlOidQuery = controlCode(9),
    ControlSetWanEvent = controlCode(10),
    ControlSetAdapterListEvent = controlCode(11),
    ControlQueueSize = controlCode(12),
    ControlGetAdapterMode = controlCode(13),
    ControlLoadFilterTable = controlCode(14),
    ControlClearFilterTable = controlCode(15),
    ControlFilterTableSize = controlCode(16),
    ControlReadFilterTable = controlCode(17),
    ControlReadFilterTableReset = controlCode(18),
    ControlWanLinks = controlCode(19),
    ControlSendManyToAdapter = controlCode(20),
    ControlSendManyToStack = controlCode(21),
    ControlReadMany = controlCode(22),
};

// Adapter mode flags.
enum ModeFlag : quint32 {
    ModeOff = 0x00,
    ModeFromStack = 0x01, // frames the host's stack sends on the adapter are queued instead
    ModeFromWire = 0x02,  // frames arriving on the adapter are queued instead
    ModeBridgeExtra = 0x50, // 0x10 | 0x40: sent with 0x03 for a wired bridge adapter
};

// Receive filter values (NDIS packet filter bits).
enum ReceiveFilter : quint32 {
    FilterDirected = 0x01,
    FilterMulticast = 0x02,
    FilterBroadcast = 0x08,
    FilterNormal = 0x0B, // directed, multicast and broadcast
    FilterPromiscuous = 0x20,
};

constexpr quint32 kOidCurrentPacketFilter = 0x0001010E;
constexpr quint32 kVersionQueryPreset = 0xFFFFFFFFu;

constexpr int kMaxAdapters = 32;
constexpr int kAdapterNameSize = 256;
constexpr int kMacSize = 6;
constexpr const char *kAdapterNamePrefix = "\\DEVICE\\";

// The adapter list (8708 bytes).
struct AdapterList {
    quint32 count;                                   // at most kMaxAdapters
    char names[kMaxAdapters][kAdapterNameSize];      // NUL-terminated 8-bit strings
    quint32 handles[kMaxAdapters];                   // opaque driver values
    quint32 media[kMaxAdapters];                     // not used
    quint8 macs[kMaxAdapters][kMacSize];             // current MAC address
    quint16 mtus[kMaxAdapters];                      // IP bytes per frame
};
static_assert(offsetof(AdapterList, names) == 4, "adapter list layout");
static_assert(offsetof(AdapterList, handles) == 8196, "adapter list layout");
static_assert(offsetof(AdapterList, media) == 8324, "adapter list layout");
static_assert(offsetof(AdapterList, macs) == 8452, "adapter list layout");
static_assert(offsetof(AdapterList, mtus) == 8644, "adapter list layout");
static_assert(sizeof(AdapterList) == 8708, "adapter list layout");

// NDIS set/query request: adapter, object identifier, data length, then the data. Every
// request the program makes carries a 4-byte value.
constexpr quint32 kOidDataSize = 4;
struct OidRequest {
    quint32 adapter;
    quint32 oid;
    quint32 length;
    quint8 data[kOidDataSize];
};
static_assert(offsetof(OidRequest, oid) == 4, "oid request layout");
static_assert(offsetof(OidRequest, length) == 8, "oid request layout");
static_assert(offsetof(OidRequest, data) == 12, "oid request layout");
static_assert(sizeof(OidRequest) == 16, "oid request layout");

// Input of the set-adapter-mode request (8 bytes).
struct AdapterModeRequest {
    quint32 adapter;
    quint32 flags;
};
static_assert(sizeof(AdapterModeRequest) == 8, "mode request layout");

// Input of the set-packet-event request (8 bytes). The event is the waitable handle of a
// WaitEvent; kNoEventHandle unregisters.
struct PacketEventRequest {
    quint32 adapter;
    qint32 event;
};
static_assert(sizeof(PacketEventRequest) == 8, "event request layout");

constexpr qint32 kNoEventHandle = -1;

// Input of the flush request: the adapter handle itself.
using FlushRequest = quint32;

static_assert(sizeof(PacketRequest) == 2 * sizeof(void *), "packet request layout");

} // namespace PacketDriver
