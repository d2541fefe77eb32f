// SPDX-License-Identifier: GPL-3.0-or-later
// Route: one row of the host's IPv4 routing table.
#pragma once

#include "spot/networkinterface.h"

#include <QHostAddress>

struct Route {
    QHostAddress destination;
    QHostAddress mask;
    QHostAddress nextHop;        // 0.0.0.0 for a directly connected network
    NetworkInterface interface;  // empty when the adapter was not enumerated
    quint32 metric = 0;
};
