// SPDX-License-Identifier: GPL-3.0-or-later
// Test packets for the fragmentation and reassembly tests: IPv4 datagrams with known bytes.
#pragma once

#include "engine/byteview.h"
#include "engine/checksum.h"
#include "engine/fragmenter.h"
#include "engine/ipv4view.h"
#include "engine/packetbuffer.h"
#include "engine/wire.h"

#include <QByteArray>
#include <QList>
#include <QtEndian>

#include <cstring>
#include <memory>

namespace TestPackets {

struct Datagram {
    int headerLength = 20;
    int totalLength = 1500;
    quint16 identification = 0x1234;
    quint16 flagsAndOffset = 0;
    quint8 protocol = Wire::kProtocolUDP;
    quint32 source = qToBigEndian<quint32>(0xC0A83302);      // 192.168.51.2
    quint32 destination = qToBigEndian<quint32>(0xCB007105); // 203.0.113.5
    quint8 seed = 1; // varies the payload bytes between datagrams
};

// Payload byte at datagram position `position`: distinct enough that a misplaced or
// doubled fragment shows.
inline char payloadByte(int position, quint8 seed)
{
    return char((position * 7 + position / 251 + seed * 31) & 0xFF);
}

inline QByteArray payloadBytes(int from, int length, quint8 seed)
{
    QByteArray bytes(length, 0);
    for (int i = 0; i < length; ++i)
        bytes[i] = payloadByte(from + i, seed);
    return bytes;
}

// A datagram with a valid header checksum; options (when headerLength > 20) are a
// record-route-like pattern of non-zero bytes.
inline QByteArray makePacket(const Datagram &d)
{
    QByteArray bytes(d.totalLength, 0);
    ByteView view = ByteView::of(bytes);
    view.setU8(Wire::kIPv4VersionAndLength, quint8(0x40 | (d.headerLength / 4)));
    view.setU8(Wire::kIPv4TypeOfService, 0x10);
    view.setBe16(Wire::kIPv4TotalLength, quint16(d.totalLength));
    view.setBe16(Wire::kIPv4Identification, d.identification);
    view.setBe16(Wire::kIPv4FlagsAndOffset, d.flagsAndOffset);
    view.setU8(Wire::kIPv4TimeToLive, 64);
    view.setU8(Wire::kIPv4Protocol, d.protocol);
    view.setRaw32(Wire::kIPv4Source, d.source);
    view.setRaw32(Wire::kIPv4Destination, d.destination);
    for (int i = Wire::kIPv4MinHeaderSize; i < d.headerLength; ++i)
        view.setU8(std::size_t(i), quint8(0x80 + i));
    const int payload = d.totalLength - d.headerLength;
    bytes.replace(d.headerLength, payload, payloadBytes(0, payload, d.seed));
    IPv4View ip(view);
    Checksum::fillIPv4Header(ip);
    return bytes;
}

// A hand-made fragment: `offsetUnits` in 8-byte units, payload bytes taken from the
// datagram positions it covers.
inline QByteArray makeFragment(Datagram d, int offsetUnits, int payload, bool moreFragments)
{
    d.totalLength = d.headerLength + payload;
    d.flagsAndOffset = quint16(offsetUnits | (moreFragments ? Wire::kIPv4MoreFragments : 0));
    QByteArray bytes = makePacket(d);
    bytes.replace(d.headerLength, payload, payloadBytes(offsetUnits * 8, payload, d.seed));
    return bytes;
}

inline IPv4View viewOf(QByteArray &bytes)
{
    return IPv4View(ByteView::of(bytes));
}

// True when the header's checksum is right: the complemented sum over the whole header,
// checksum field included, is zero.
inline bool headerChecksumValid(const QByteArray &packet)
{
    QByteArray copy = packet;
    IPv4View ip = viewOf(copy);
    return ip.valid() && Checksum::compute(ip.header()) == 0;
}

// Every frame the fragmenter writes for `packet`, as IP packets (frame offset 14 onwards),
// checking on the way that each frame length matches its packet.
inline QList<QByteArray> fragmentAll(QByteArray packet, std::size_t mtu, bool *lengthsOk = nullptr)
{
    auto buffer = std::make_unique<PacketBuffer>();
    std::memset(buffer.get(), 0, sizeof(PacketBuffer));
    QList<QByteArray> pieces;
    Fragmenter fragmenter(viewOf(packet), mtu);
    bool ok = true;
    while (fragmenter.next(*buffer)) {
        const int length = int(buffer->length) - int(Wire::kEthernetHeaderSize);
        const QByteArray piece(reinterpret_cast<const char *>(buffer->frame)
                                   + Wire::kEthernetHeaderSize,
                               length);
        ok = ok && length >= 20 && qFromBigEndian<quint16>(piece.constData() + 2) == length;
        pieces.append(piece);
    }
    if (lengthsOk)
        *lengthsOk = ok && std::size_t(pieces.size()) == fragmenter.count();
    return pieces;
}

} // namespace TestPackets
