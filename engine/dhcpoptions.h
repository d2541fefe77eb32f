// SPDX-License-Identifier: GPL-3.0-or-later
// The DHCP option codec: code-length-value triples after the fixed part of a message.
#pragma once

#include "engine/dhcpprotocol.h"

#include <QByteArray>

namespace DhcpOptionCodec {

// Reads triples until code 255, the end of the data, or a length byte or value that would
// run past the end (that option and everything after it are dropped). Code 0 is read as a
// triple like any other code. A repeated code replaces the earlier value.
DhcpOptions parse(const QByteArray &bytes);

// Every option as code, length, value in ascending code order, then code 255. Entries that
// cannot be written as one triple (code 255, a value longer than 255 bytes) are left out.
QByteArray build(const DhcpOptions &options);

} // namespace DhcpOptionCodec
