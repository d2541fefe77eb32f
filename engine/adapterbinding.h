// SPDX-License-Identifier: GPL-3.0-or-later
// AdapterBinding: what an engine knows of one driver adapter it reads or sends on.
#pragma once

#include "engine/packetbuffer.h"
#include "engine/wire.h"

#include <QtGlobal>

struct AdapterBinding {
    AdapterHandle handle = 0;
    quint32 address = 0; // IPv4, network order
    Wire::MacAddress mac{};
    quint16 mtu = 0; // IP bytes per frame
};
