// SPDX-License-Identifier: GPL-3.0-or-later
// Puts frames onto the wire of any adapter, past the packet driver's own egress hook.
#pragma once

#include "engine/packetbuffer.h"
#include "platform/linux/ownedfd.h"

// A packet socket whose frames carry the driver's mark, so an adapter whose outgoing frames
// are being queued for the engine (by this or any other device object) lets them pass.
class WireSender
{
public:
    // False when the frame could not be handed to the adapter (no socket, bad length,
    // queue full).
    bool send(int ifindex, const PacketBuffer &buffer);

private:
    bool open();

    OwnedFd m_socket; // opened on first use
};
