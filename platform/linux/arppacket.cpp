// SPDX-License-Identifier: GPL-3.0-or-later
// ARP over Ethernet for IPv4 (RFC 826): the wire layout, requests and reply parsing.
#include "platform/linux/arppacket.h"

namespace platform::arp {

namespace {

void put16(QByteArray &out, int offset, quint16 value)
{
    out[offset] = char(value >> 8);
    out[offset + 1] = char(value);
}

void put32(QByteArray &out, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        out[offset + i] = char(value >> (24 - 8 * i));
}

quint16 get16(const QByteArray &in, int offset)
{
    return quint16(quint8(in.at(offset)) << 8 | quint8(in.at(offset + 1)));
}

quint32 get32(const QByteArray &in, int offset)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value = value << 8 | quint8(in.at(offset + i));
    return value;
}

} // namespace

QByteArray buildRequest(const QByteArray &senderMac, quint32 senderAddress, quint32 target)
{
    QByteArray out(kPacketSize, '\0');
    put16(out, kOffsetHardwareType, kHardwareEthernet);
    put16(out, kOffsetProtocolType, kProtocolIpv4);
    out[kOffsetHardwareLength] = char(kHardwareLength);
    out[kOffsetProtocolLength] = char(kProtocolLength);
    put16(out, kOffsetOperation, kOperationRequest);
    for (int i = 0; i < kHardwareLength && i < senderMac.size(); ++i)
        out[kOffsetSenderHardware + i] = senderMac.at(i);
    put32(out, kOffsetSenderProtocol, senderAddress);
    put32(out, kOffsetTargetProtocol, target);
    return out;
}

std::optional<Reply> parseReply(const QByteArray &packet)
{
    if (packet.size() < kPacketSize)
        return std::nullopt;
    if (get16(packet, kOffsetHardwareType) != kHardwareEthernet
        || get16(packet, kOffsetProtocolType) != kProtocolIpv4
        || quint8(packet.at(kOffsetHardwareLength)) != kHardwareLength
        || quint8(packet.at(kOffsetProtocolLength)) != kProtocolLength
        || get16(packet, kOffsetOperation) != kOperationReply)
        return std::nullopt;
    Reply reply;
    reply.senderMac = packet.mid(kOffsetSenderHardware, kHardwareLength);
    reply.senderAddress = get32(packet, kOffsetSenderProtocol);
    return reply;
}

} // namespace platform::arp
