// SPDX-License-Identifier: GPL-3.0-or-later
// DHCPSnooper: what bridge mode learns from, and changes in, the DHCP messages it relays.
#include "engine/dhcpsnooper.h"

#include "engine/arptable.h"
#include "engine/checksum.h"
#include "engine/dhcpoptions.h"
#include "engine/dhcpprotocol.h"
#include "engine/userrecord.h"

#include <QtEndian>
#include <algorithm>

namespace {

QByteArray bytesOf(ByteView view)
{
    return QByteArray(reinterpret_cast<const char *>(view.data()), int(view.size()));
}

// The first byte of option 53, or 0 when the option is absent or empty.
quint8 messageType(const DhcpOptions &options)
{
    const QByteArray type = options.value(Dhcp::kOptionMessageType);
    return type.isEmpty() ? 0 : quint8(type.at(0));
}

} // namespace

DHCPSnooper::DHCPSnooper(ARPTable *users)
    : m_users(users)
{
}

bool DHCPSnooper::isDHCP(const UDPView &udp)
{
    if (!udp.valid())
        return false;
    const quint16 port = qFromBigEndian(udp.destinationPort());
    return port == Dhcp::kServerPort || port == Dhcp::kClientPort;
}

void DHCPSnooper::snoop(IPv4View &ip, bool towardsWireless)
{
    const UDPView udp(ip);
    if (!isDHCP(udp) || !Checksum::verifyIPv4Header(ip) || !Checksum::verifyUDP(ip))
        return;
    const ByteView message = udp.datagram().from(Wire::kUDPHeaderSize);
    if (message.size() < Dhcp::kFixedSize)
        return;
    const DhcpOptions options = DhcpOptionCodec::parse(bytesOf(message.from(Dhcp::kFixedSize)));
    const std::size_t hardwareLength =
        std::min<std::size_t>(message.u8(Dhcp::kHardwareLength), Dhcp::kClientHardwareSize);
    const QByteArray client = bytesOf(message.slice(Dhcp::kClientHardwareAddress, hardwareLength));
    const quint8 type = messageType(options);
    if (message.u8(Dhcp::kOp) == Dhcp::kOpRequest)
        clientMessage(ip, message, type, client, options, towardsWireless);
    else
        serverMessage(message, type, client);
}

void DHCPSnooper::clientMessage(IPv4View &ip, ByteView message, quint8 type,
                                const QByteArray &client, const DhcpOptions &options,
                                bool towardsWireless)
{
    const auto hostName = options.constFind(Dhcp::kOptionHostName);
    if (type == Dhcp::kRequest && hostName != options.constEnd())
        m_users->setHostName(client, *hostName);
    if (!towardsWireless || message.be16(Dhcp::kFlags) != 0)
        return;
    message.setBe16(Dhcp::kFlags, Dhcp::kBroadcastFlag);
    Checksum::fillUDP(ip);
    Checksum::fillIPv4Header(ip);
}

void DHCPSnooper::serverMessage(ByteView message, quint8 type, const QByteArray &client)
{
    const quint32 offered = message.raw32(Dhcp::kYourAddress);
    if (type != Dhcp::kAck || offered == 0)
        return;
    UserRecord record;
    record.origin = UserFromDhcp;
    record.mac = client;
    m_users->add(offered, record);
}
