// SPDX-License-Identifier: GPL-3.0-or-later
// Puts frames onto the wire of any adapter, past the packet driver's own egress hook.
#pragma once

#include "engine/packetbuffer.h"
#include "platform/linux/ownedfd.h"

#include <linux/if_packet.h>
#include <sys/socket.h>

#include <array>
#include <vector>

// A packet socket whose frames carry the driver's mark, so an adapter whose outgoing frames
// are being queued for the engine (by this or any other device object) lets them pass.
//
// Frames are copied into a fixed batch and go out together with one system call: when the
// batch is full or when flush() is called. The owner decides when to flush; a queued frame
// stays off the wire until then.
class WireSender
{
public:
    static constexpr int kBatchSize = 32;

    // False when the frame cannot go (no socket, bad length, no such adapter). A frame the
    // adapter's queue has no room for at flush time is dropped, as a full wire would.
    bool queue(int ifindex, const PacketBuffer &buffer);
    void flush();
    bool isEmpty() const { return m_count == 0; }

private:
    struct Slot
    {
        sockaddr_ll to;
        iovec vector;
        unsigned char frame[sizeof(PacketBuffer::frame)];
    };

    bool open();
    bool known(int ifindex);

    OwnedFd m_socket; // opened on first use
    std::array<Slot, kBatchSize> m_slots;
    std::array<mmsghdr, kBatchSize> m_messages;
    int m_count = 0;
    std::vector<int> m_known; // adapters seen to exist; a vanished one fails at flush
};
