// SPDX-License-Identifier: GPL-3.0-or-later
// PassForwarder: hands every frame on, untouched, in the direction it was travelling.
#pragma once

#include "engine/forwarder.h"

// With it, an engine pair carries traffic exactly as the host would without it: frames from
// the wire go up to the host's stack, frames of the host's stack go out on the wire.
class PassForwarder : public Forwarder
{
public:
    explicit PassForwarder(const ForwarderContext &context);
    void handle(PacketRequest &request) override;

    static std::unique_ptr<Forwarder> create(const ForwarderContext &context);

private:
    FrameSender *m_sender;
};
