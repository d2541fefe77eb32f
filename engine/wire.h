// SPDX-License-Identifier: GPL-3.0-or-later
// Wire constants of the frames the packet engine parses: Ethernet II, ARP, IPv4, ICMP, UDP, TCP.
#pragma once

#include <QtGlobal>
#include <array>
#include <cstddef>

// Every multi-byte field is big-endian on the wire. Offsets are relative to the start of the
// header they belong to; sizes are in bytes.
namespace Wire {

using MacAddress = std::array<quint8, 6>;

// Ethernet II (RFC 894)
constexpr std::size_t kEthernetHeaderSize = 14;
constexpr std::size_t kEthernetDestination = 0;
constexpr std::size_t kEthernetSource = 6;
constexpr std::size_t kEthernetType = 12;
constexpr std::size_t kMacSize = 6;
constexpr quint8 kMacGroupBit = 0x01; // lowest bit of the first byte: broadcast or multicast
constexpr quint16 kEtherTypeIPv4 = 0x0800;
constexpr quint16 kEtherTypeARP = 0x0806;

// ARP for Ethernet and IPv4 (RFC 826)
constexpr std::size_t kARPSize = 28;
constexpr std::size_t kARPHardwareType = 0;
constexpr std::size_t kARPProtocolType = 2;
constexpr std::size_t kARPHardwareSize = 4;
constexpr std::size_t kARPProtocolSize = 5;
constexpr std::size_t kARPOperation = 6;
constexpr std::size_t kARPSenderMac = 8;
constexpr std::size_t kARPSenderAddress = 14;
constexpr std::size_t kARPTargetMac = 18;
constexpr std::size_t kARPTargetAddress = 24;

// IPv4 (RFC 791)
constexpr std::size_t kIPv4MinHeaderSize = 20;
constexpr std::size_t kIPv4VersionAndLength = 0;
constexpr std::size_t kIPv4TypeOfService = 1;
constexpr std::size_t kIPv4TotalLength = 2;
constexpr std::size_t kIPv4Identification = 4;
constexpr std::size_t kIPv4FlagsAndOffset = 6;
constexpr std::size_t kIPv4TimeToLive = 8;
constexpr std::size_t kIPv4Protocol = 9;
constexpr std::size_t kIPv4Checksum = 10;
constexpr std::size_t kIPv4Source = 12;
constexpr std::size_t kIPv4Destination = 16;
constexpr quint8 kIPv4Version = 4;
constexpr quint8 kIPv4PlainVersionAndLength = 0x45; // version 4, 20-byte header
constexpr quint16 kIPv4DontFragment = 0x4000;
constexpr quint16 kIPv4MoreFragments = 0x2000;
constexpr quint16 kIPv4OffsetMask = 0x1FFF; // in units of 8 bytes
constexpr std::size_t kIPv4OffsetUnit = 8;
constexpr std::size_t kIPv4MaxPacketSize = 1500;

constexpr quint8 kProtocolICMP = 1;
constexpr quint8 kProtocolTCP = 6;
constexpr quint8 kProtocolUDP = 17;

// ICMP (RFC 792)
constexpr std::size_t kICMPHeaderSize = 8;
constexpr std::size_t kICMPType = 0;
constexpr std::size_t kICMPCode = 1;
constexpr std::size_t kICMPChecksum = 2;
constexpr std::size_t kICMPIdentifier = 4;
constexpr std::size_t kICMPSequence = 6;
constexpr std::size_t kICMPQuote = 8;        // errors: the offending packet's IP header
constexpr std::size_t kICMPQuotedPayload = 8; // errors carry at least 64 bits of its payload
constexpr quint8 kICMPEchoReply = 0;
constexpr quint8 kICMPDestinationUnreachable = 3;
constexpr quint8 kICMPSourceQuench = 4;
constexpr quint8 kICMPRedirect = 5;
constexpr quint8 kICMPEchoRequest = 8;
constexpr quint8 kICMPTimeExceeded = 11;
constexpr quint8 kICMPParameterProblem = 12;

// UDP (RFC 768)
constexpr std::size_t kUDPHeaderSize = 8;
constexpr std::size_t kUDPSourcePort = 0;
constexpr std::size_t kUDPDestinationPort = 2;
constexpr std::size_t kUDPLength = 4;
constexpr std::size_t kUDPChecksum = 6;
constexpr quint16 kUDPNoChecksum = 0;      // the sender computed none
constexpr quint16 kUDPZeroChecksum = 0xFFFF; // how a computed 0 is sent

// TCP (RFC 793)
constexpr std::size_t kTCPMinHeaderSize = 20;
constexpr std::size_t kTCPSourcePort = 0;
constexpr std::size_t kTCPDestinationPort = 2;
constexpr std::size_t kTCPDataOffset = 12; // high four bits: header length in 32-bit words
constexpr std::size_t kTCPFlags = 13;
constexpr std::size_t kTCPChecksum = 16;
constexpr quint8 kTCPFin = 0x01;
constexpr quint8 kTCPSyn = 0x02;
constexpr quint8 kTCPRst = 0x04;
constexpr quint8 kTCPAck = 0x10;

// Transport pseudo-header (RFC 793 section 3.1, RFC 768): source, destination, zero,
// protocol, transport length. Summed, never stored.
constexpr std::size_t kPseudoHeaderSize = 12;

} // namespace Wire
