// SPDX-License-Identifier: GPL-3.0-or-later
// InterfaceOffer: the list of interfaces the user may choose from, and when it changed.
#pragma once

#include "spot/networkinterface.h"

#include <QList>

namespace InterfaceOffer {

// Every interface the packet filter can filter, in its order, except a wireless one that
// the Wi-Fi client connection does not list.
QList<NetworkInterface> build(const QList<NetworkInterface> &filterable, const QList<NetworkInterface> &wireless);

// True when the lists differ in length, or at some position in interface index or in
// interface flags; a change of addresses alone is no change.
bool differs(const QList<NetworkInterface> &stored, const QList<NetworkInterface> &fresh);

// True when an interface's description names a Wi-Fi Direct adapter (case-sensitive).
bool hasDirectAdapter(const QList<NetworkInterface> &interfaces);

} // namespace InterfaceOffer
