// SPDX-License-Identifier: GPL-3.0-or-later
// FrameSender: the engine's send routine as the forwarding modes see it.
#pragma once

#include "engine/packetbuffer.h"

class IPv4View;

// Routes of a send. Same: the frame goes on in the direction it was travelling (a frame
// from the wire goes up to the host's stack, a frame the host sent goes out on the wire).
enum class SendRoute { Same = 0, Wire = 1, Stack = 2 };

class FrameSender
{
public:
    virtual ~FrameSender() = default;
    // Sends the request's frame. A non-zero `adapter` replaces the request's adapter for
    // this one send. A non-null `packet` is placed behind the Ethernet header first, cut into
    // fragments when it exceeds the MTU of the adapter it goes to.
    virtual void send(PacketRequest &request, SendRoute route, AdapterHandle adapter = 0,
                      const IPv4View *packet = nullptr) = 0;
};
