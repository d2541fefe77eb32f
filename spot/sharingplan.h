// SPDX-License-Identifier: GPL-3.0-or-later
// SharingPlan: which interfaces and which kind of private side one sharing run uses.
#pragma once

#include "spot/networkinterface.h"
#include "spot/sharingconfig.h"

#include <QList>

// How the private side is provided.
enum AccessPointKind {
    WiredInterface = 1,    // an Ethernet-type interface chosen by the user; nothing to start
    AdHocNetwork = 2,      // a wireless interface on which an ad hoc network is opened
    HostedNetwork = 3,     // the host's hosted network
    DirectAccessPoint = 4, // the Wi-Fi Direct legacy access point
};

// The result of matching a run's configuration against the interfaces on offer. Invalid
// (a configuration error) when a named interface is not in the list, or an access point is
// wanted and neither is available. For the access point kinds the private interface stays
// empty until the access point runs.
struct SharingPlan {
    bool valid = false;
    AccessPointKind kind = WiredInterface;
    NetworkInterface publicInterface;
    NetworkInterface privateInterface;

    static SharingPlan choose(const SharingConfig &config, const QList<NetworkInterface> &interfaces,
                              bool directAvailable, bool hostedAvailable);
};
