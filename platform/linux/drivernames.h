// SPDX-License-Identifier: GPL-3.0-or-later
// Names and marks by which the packet driver recognises its own kernel objects and frames.
#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace DriverNames {

// The skb mark of frames the driver re-injects; the adapter programs let such frames pass
// (clearing the mark) instead of queueing them again. Below 2^31 so that it fits the
// signed immediate of a BPF comparison.
constexpr quint32 kFrameMark = 0x54574B21;

// All of the driver's TAP devices start with this; the adapter list leaves them out.
constexpr const char *kTapPrefix = "twk";

// TAP that receives what arrives on adapter `ifindex` from the wire ("w").
inline QByteArray wireTapName(int ifindex)
{
    return QByteArray(kTapPrefix) + 'w' + QByteArray::number(ifindex);
}

// TAP that receives what the host's stack sends on adapter `ifindex` ("h").
inline QByteArray hostTapName(int ifindex)
{
    return QByteArray(kTapPrefix) + 'h' + QByteArray::number(ifindex);
}

// Injection-only TAP of a device object that does not filter `ifindex` ("j"); the kernel
// fills in a free number for %d, so several device objects never collide.
inline QByteArray injectTapPattern(int ifindex)
{
    return QByteArray(kTapPrefix) + 'j' + QByteArray::number(ifindex) + "-%d";
}

} // namespace DriverNames
