// SPDX-License-Identifier: GPL-3.0-or-later
// PassForwarder: hands every frame on, untouched, in the direction it was travelling.
#include "engine/passforwarder.h"

#include "engine/framesender.h"

PassForwarder::PassForwarder(const ForwarderContext &context)
    : m_sender(context.sender)
{
}

void PassForwarder::handle(PacketRequest &request)
{
    m_sender->send(request, SendRoute::Same);
}

std::unique_ptr<Forwarder> PassForwarder::create(const ForwarderContext &context)
{
    return std::make_unique<PassForwarder>(context);
}
