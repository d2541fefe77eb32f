// SPDX-License-Identifier: GPL-3.0-or-later
// The greeting a starting instance sends to the primary instance: layout, checksum, parsing.
//
// How this works: the greeting is the instance key (Latin-1), one connection-type byte, the
// instance number (unsigned 32-bit, machine byte order) and a checksum, back to back. The
// checksum is the CRC-16 of ISO 3309 (X.25) over everything before it, written as a base-256
// number, most significant digit first; digit d becomes the byte d + 48 when d < 10 and
// otherwise the low 8 bits of d + 87. A CRC below 256 therefore takes one byte, any other two.
// Everything after the checksum is application data of the accepted connection.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace InstanceGreeting {

enum ConnectionType : char {
    NewInstance = 'N',
    SecondaryInstance = 'S',
    Reconnect = 'R',
};

constexpr int kTypeLength = 1;
constexpr int kInstanceNumberLength = 4;
constexpr int kMaxChecksumLength = 2;

// CRC-16 of ISO 3309 / ITU-T X.25: polynomial 0x1021 reflected (0x8408), initial value
// 0xFFFF, final XOR 0xFFFF.
quint16 crc16X25(const QByteArray &data);

// The checksum as it is written on the wire (one or two bytes).
QByteArray checksumText(quint16 crc);

// The complete greeting for `key`.
QByteArray encode(const QString &key, ConnectionType type, quint32 instanceNumber);

struct Greeting {
    ConnectionType type = NewInstance;
    quint32 instanceNumber = 0;
    int length = 0; // bytes the greeting took; anything after it is application data
};

enum class Verdict {
    Incomplete, // a prefix of a possibly valid greeting: more bytes are needed
    Invalid,
    Valid,
};

// Checks the start of `received` against the greeting for `key`. On Valid, `greeting`
// receives the parsed fields.
Verdict parse(const QByteArray &received, const QString &key, Greeting *greeting);

} // namespace InstanceGreeting
