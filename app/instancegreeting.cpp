// SPDX-License-Identifier: GPL-3.0-or-later
// Encoding and checking of the greeting between two instances.
#include "app/instancegreeting.h"

#include <QtEndian>

namespace InstanceGreeting {

namespace {

constexpr quint16 kCrcReflectedPolynomial = 0x8408;
constexpr quint16 kCrcInitial = 0xFFFF;
constexpr quint16 kCrcFinalXor = 0xFFFF;

char checksumDigit(int digit)
{
    return static_cast<char>(digit < 10 ? digit + 48 : (digit + 87) & 0xFF);
}

bool isKnownType(char type)
{
    return type == NewInstance || type == SecondaryInstance || type == Reconnect;
}

} // namespace

quint16 crc16X25(const QByteArray &data)
{
    quint16 crc = kCrcInitial;
    for (const char c : data) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<quint16>((crc >> 1) ^ kCrcReflectedPolynomial)
                            : static_cast<quint16>(crc >> 1);
    }
    return crc ^ kCrcFinalXor;
}

QByteArray checksumText(quint16 crc)
{
    QByteArray text;
    if (crc >= 256)
        text.append(checksumDigit(crc >> 8));
    text.append(checksumDigit(crc & 0xFF));
    return text;
}

QByteArray encode(const QString &key, ConnectionType type, quint32 instanceNumber)
{
    QByteArray message = key.toLatin1();
    message.append(static_cast<char>(type));
    char number[kInstanceNumberLength];
    qToUnaligned(instanceNumber, number);
    message.append(number, kInstanceNumberLength);
    message.append(checksumText(crc16X25(message)));
    return message;
}

Verdict parse(const QByteArray &received, const QString &key, Greeting *greeting)
{
    const QByteArray expectedKey = key.toLatin1();
    const int keyPart = qMin(received.size(), expectedKey.size());
    if (received.left(keyPart) != expectedKey.left(keyPart))
        return Verdict::Invalid;
    const int headLength = expectedKey.size() + kTypeLength + kInstanceNumberLength;
    if (received.size() > expectedKey.size() && !isKnownType(received.at(expectedKey.size())))
        return Verdict::Invalid;
    if (received.size() < headLength)
        return Verdict::Incomplete;

    const QByteArray head = received.left(headLength);
    const QByteArray checksum = checksumText(crc16X25(head));
    const QByteArray sent = received.mid(headLength, checksum.size());
    if (sent != checksum.left(sent.size()))
        return Verdict::Invalid;
    if (sent.size() < checksum.size())
        return Verdict::Incomplete;

    if (greeting) {
        greeting->type = static_cast<ConnectionType>(head.at(expectedKey.size()));
        greeting->instanceNumber = qFromUnaligned<quint32>(head.constData() + expectedKey.size() + kTypeLength);
        greeting->length = headLength + checksum.size();
    }
    return Verdict::Valid;
}

} // namespace InstanceGreeting
