// SPDX-License-Identifier: GPL-3.0-or-later
// Forwarder: the per-frame decision of one engine thread, one implementation per mode.
#pragma once

#include "engine/adapterbinding.h"
#include "engine/packetbuffer.h"

#include <QHostAddress>
#include <functional>
#include <memory>

class ARPProxy;
class ARPTable;
class FrameSender;
class NATService;
class Reassembler;
class UpTime;

// Everything a forwarder may use; it lives as long as the engine thread runs.
struct ForwarderContext {
    int mode = 0;      // 0 router, 1 bridge
    int direction = 0; // 0 the public engine, 1 the private engine
    int ownKind = 0;   // interface kind of the own side: 1 wired, 2 wireless
    int otherKind = 0;
    AdapterBinding own;
    AdapterBinding other;
    FrameSender *sender = nullptr;
    // The engine's second buffer, on the other adapter's handle (bridge mode's copy).
    PacketRequest *copy = nullptr;
    Reassembler *reassembler = nullptr;
    ARPTable *users = nullptr;
    ARPProxy *proxy = nullptr;
    NATService *translator = nullptr;
    UpTime *clock = nullptr;
};

class Forwarder
{
public:
    virtual ~Forwarder() = default;
    // Decides one frame read into `request` (the engine's first buffer): zero, one or
    // several sends through the context's sender. A frame that is not sent is dropped.
    virtual void handle(PacketRequest &request) = 0;
};

using ForwarderFactory = std::function<std::unique_ptr<Forwarder>(const ForwarderContext &)>;
