// SPDX-License-Identifier: GPL-3.0-or-later
// ARP over Ethernet for IPv4 (RFC 826): the wire layout, requests and reply parsing.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// The packet sits right after the Ethernet header (a SOCK_DGRAM packet socket sees only
// this part). Layout, RFC 826 "Packet format", with Ethernet and IPv4 sizes:
//   0 hardware type (1 = Ethernet)   2 protocol type (0x0800)   4 hardware length (6)
//   5 protocol length (4)            6 operation (1 request, 2 reply)
//   8 sender hardware address       14 sender protocol address
//  18 target hardware address       24 target protocol address   28 end
namespace platform::arp {

constexpr quint16 kEtherTypeArp = 0x0806;
constexpr quint16 kHardwareEthernet = 1;
constexpr quint16 kProtocolIpv4 = 0x0800;
constexpr int kHardwareLength = 6;
constexpr int kProtocolLength = 4;
constexpr quint16 kOperationRequest = 1;
constexpr quint16 kOperationReply = 2;
constexpr int kPacketSize = 28;

constexpr int kOffsetHardwareType = 0;
constexpr int kOffsetProtocolType = 2;
constexpr int kOffsetHardwareLength = 4;
constexpr int kOffsetProtocolLength = 5;
constexpr int kOffsetOperation = 6;
constexpr int kOffsetSenderHardware = 8;
constexpr int kOffsetSenderProtocol = 14;
constexpr int kOffsetTargetHardware = 18;
constexpr int kOffsetTargetProtocol = 24;

// A request from (senderMac, senderAddress) for `target`; the target hardware address is
// zero. senderMac must hold six bytes. Addresses in host order.
QByteArray buildRequest(const QByteArray &senderMac, quint32 senderAddress, quint32 target);

struct Reply {
    QByteArray senderMac;   // six bytes
    quint32 senderAddress = 0;
};

// The sender of an Ethernet/IPv4 ARP reply; no value for anything else, including a
// packet shorter than its fields or one whose lengths are not 6 and 4.
std::optional<Reply> parseReply(const QByteArray &packet);

} // namespace platform::arp
