// SPDX-License-Identifier: GPL-3.0-or-later
// The frame record exchanged with the packet filter driver, and the read/send request.
#pragma once

#include <QtGlobal>
#include <cstddef>
#include <cstdint>

// Direction word of a PacketBuffer.
enum PacketDirection : quint32 {
    PacketFromStack = 1, // the host's own stack sent this frame towards the adapter
    PacketFromWire = 2,  // the frame arrived on the adapter from the wire
};

constexpr std::size_t kMaxFrameSize = 1514; // 1500-byte IP packet + 14-byte Ethernet header

// One frame plus the driver's bookkeeping, in the driver's record layout (1558 bytes).
// 1558 is not a multiple of 4: the record is packed to 2-byte alignment, which keeps every
// field at its offset and drops the tail padding natural alignment would add.
#pragma pack(push, 2)
struct PacketBuffer {
    quint32 listLink[2];     // driver's list link; never touched by the engine
    quint32 direction;       // PacketDirection
    quint32 length;          // frame length in bytes
    quint32 driverWords[7];  // carried unchanged
    quint8 frame[kMaxFrameSize];
};
#pragma pack(pop)
static_assert(offsetof(PacketBuffer, direction) == 8, "driver record layout");
static_assert(offsetof(PacketBuffer, length) == 12, "driver record layout");
static_assert(offsetof(PacketBuffer, frame) == 44, "driver record layout");
static_assert(sizeof(PacketBuffer) == 1558, "driver record layout");

// Opaque adapter handle as the driver hands it out in its adapter list.
using AdapterHandle = quintptr;

// The pair handed to a read or send: adapter handle and the buffer's address.
struct PacketRequest {
    AdapterHandle adapter;
    PacketBuffer *buffer;
};
