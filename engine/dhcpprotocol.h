// SPDX-License-Identifier: GPL-3.0-or-later
// Wire constants of DHCP messages (RFC 2131 layout, RFC 2132 options).
#pragma once

#include <QByteArray>
#include <QHash>
#include <QtGlobal>
#include <cstddef>

// Offsets are in the UDP payload; multi-byte fields are big-endian on the wire.
namespace Dhcp {

constexpr quint16 kServerPort = 67;
constexpr quint16 kClientPort = 68;

// The fixed part (RFC 2131 section 2, figure 1), the magic cookie included.
constexpr std::size_t kOp = 0;
constexpr std::size_t kHardwareType = 1;
constexpr std::size_t kHardwareLength = 2;
constexpr std::size_t kHops = 3;
constexpr std::size_t kTransactionId = 4;
constexpr std::size_t kSeconds = 8;
constexpr std::size_t kFlags = 10;
constexpr std::size_t kClientAddress = 12; // ciaddr
constexpr std::size_t kYourAddress = 16;   // yiaddr
constexpr std::size_t kServerAddress = 20; // siaddr
constexpr std::size_t kRelayAddress = 24;  // giaddr
constexpr std::size_t kClientHardwareAddress = 28; // chaddr
constexpr std::size_t kClientHardwareSize = 16;
constexpr std::size_t kServerName = 44;
constexpr std::size_t kBootFile = 108;
constexpr std::size_t kMagicCookie = 236;
constexpr std::size_t kFixedSize = 240; // options follow
constexpr std::size_t kMinimumMessageSize = 300; // replies are padded to this (BOOTP minimum)

constexpr quint32 kMagicCookieValue = 0x63825363; // 99.130.83.99
constexpr quint16 kBroadcastFlag = 0x8000;

constexpr quint8 kOpRequest = 1;
constexpr quint8 kOpReply = 2;

// Option codes (RFC 2132)
constexpr quint8 kOptionPad = 0;
constexpr quint8 kOptionSubnetMask = 1;
constexpr quint8 kOptionRouter = 3;
constexpr quint8 kOptionDnsServer = 6;
constexpr quint8 kOptionHostName = 12;
constexpr quint8 kOptionDomainName = 15;
constexpr quint8 kOptionRequestedAddress = 50;
constexpr quint8 kOptionLeaseTime = 51;
constexpr quint8 kOptionMessageType = 53;
constexpr quint8 kOptionServerIdentifier = 54;
constexpr quint8 kOptionEnd = 255;
constexpr int kAddressOptionSize = 4; // options 1, 3, 6, 50, 54 carry one IPv4 address

// Message types, the value of option 53 (RFC 2132 section 9.6)
constexpr quint8 kDiscover = 1;
constexpr quint8 kOffer = 2;
constexpr quint8 kRequest = 3;
constexpr quint8 kDecline = 4;
constexpr quint8 kAck = 5;
constexpr quint8 kNak = 6;
constexpr quint8 kRelease = 7;
constexpr quint8 kInform = 8;

constexpr quint32 kBroadcastAddress = 0xFFFFFFFF;

} // namespace Dhcp

// Option code to value; each code occurs at most once.
using DhcpOptions = QHash<quint8, QByteArray>;
