// SPDX-License-Identifier: GPL-3.0-or-later
// TimeExceeded: the ICMP time-exceeded message a router sends for a packet whose TTL ran out.
#include "engine/timeexceeded.h"

#include "engine/byteview.h"
#include "engine/checksum.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kQuoteOffset = Wire::kEthernetHeaderSize + Wire::kIPv4MinHeaderSize
    + Wire::kICMPHeaderSize;

void writeHeader(ByteView ip, std::size_t total, quint32 source, quint32 destination)
{
    ip.setU8(Wire::kIPv4VersionAndLength, Wire::kIPv4PlainVersionAndLength);
    ip.setU8(Wire::kIPv4TypeOfService, 0);
    ip.setBe16(Wire::kIPv4TotalLength, quint16(total));
    ip.setBe16(Wire::kIPv4Identification, 0);
    ip.setBe16(Wire::kIPv4FlagsAndOffset, 0);
    ip.setU8(Wire::kIPv4TimeToLive, TimeExceeded::kTimeToLive);
    ip.setU8(Wire::kIPv4Protocol, Wire::kProtocolICMP);
    ip.setBe16(Wire::kIPv4Checksum, 0);
    ip.setRaw32(Wire::kIPv4Source, source);
    ip.setRaw32(Wire::kIPv4Destination, destination);
}

void writeICMPHeader(ByteView icmp)
{
    icmp.setU8(Wire::kICMPType, Wire::kICMPTimeExceeded);
    icmp.setU8(Wire::kICMPCode, TimeExceeded::kCodeInTransit);
    icmp.setBe16(Wire::kICMPChecksum, 0);
    icmp.setRaw32(Wire::kICMPIdentifier, 0); // "unused": identifier and sequence words
}

} // namespace

bool TimeExceeded::mayAnswer(const IPv4View &offending)
{
    if (!offending.valid() || offending.fragmentOffset() != 0)
        return false;
    if (offending.protocol() != Wire::kProtocolICMP || offending.payload().size() < 1)
        return true;
    switch (offending.payload().u8(Wire::kICMPType)) {
    case Wire::kICMPDestinationUnreachable:
    case Wire::kICMPSourceQuench:
    case Wire::kICMPRedirect:
    case Wire::kICMPTimeExceeded:
    case Wire::kICMPParameterProblem:
        return false;
    default:
        return true;
    }
}

IPv4View TimeExceeded::write(PacketBuffer &buffer, const IPv4View &offending, quint32 ownAddress,
                             const Wire::MacAddress &ownMac)
{
    if (!offending.valid())
        return IPv4View();
    const std::size_t payload = offending.totalLength() - offending.headerLength();
    const std::size_t quoted = offending.headerLength() + std::min(payload, kMaxQuotedPayload);
    const std::size_t total = Wire::kIPv4MinHeaderSize + Wire::kICMPHeaderSize + quoted;
    ByteView frame(buffer.frame, sizeof buffer.frame);
    if (!frame.contains(kQuoteOffset, quoted))
        return IPv4View();

    const quint32 destination = offending.source();
    const Wire::MacAddress sender = frame.mac(Wire::kEthernetSource);
    std::memmove(frame.data() + kQuoteOffset, offending.packet().data(), quoted);

    frame.setMac(Wire::kEthernetDestination, sender);
    frame.setMac(Wire::kEthernetSource, ownMac);
    frame.setBe16(Wire::kEthernetType, Wire::kEtherTypeIPv4);
    const ByteView ipBytes = frame.slice(Wire::kEthernetHeaderSize, total);
    writeHeader(ipBytes, total, ownAddress, destination);
    writeICMPHeader(ipBytes.from(Wire::kIPv4MinHeaderSize));
    buffer.length = quint32(Wire::kEthernetHeaderSize + total);

    IPv4View message(ipBytes);
    Checksum::fillICMP(message);
    Checksum::fillIPv4Header(message);
    return message;
}
