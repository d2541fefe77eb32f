// SPDX-License-Identifier: GPL-3.0-or-later
// The packet driver's adapter list, taken from the host's Ethernet-type interfaces.
#pragma once

#include "platform/packetdriverprotocol.h"

namespace DriverAdapters {

// Fills `list` (zeroed first) with up to 32 adapters: name "\DEVICE\" + interface name,
// handle = interface index, MAC and MTU. Loopback, non-Ethernet links and the driver's own
// TAP devices are left out.
bool fill(PacketDriver::AdapterList &list);

} // namespace DriverAdapters
