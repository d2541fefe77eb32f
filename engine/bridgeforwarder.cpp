// SPDX-License-Identifier: GPL-3.0-or-later
// BridgeForwarder: the per-frame decision of an engine in bridge mode.
#include "engine/bridgeforwarder.h"

#include "engine/arpproxy.h"
#include "engine/arptable.h"
#include "engine/framesender.h"
#include "engine/userrecord.h"
#include "spot/networkinterface.h"

#include <algorithm>
#include <cstring>

namespace {

QByteArray macBytes(const Wire::MacAddress &mac)
{
    return QByteArray(reinterpret_cast<const char *>(mac.data()), int(mac.size()));
}

bool toMac(const QByteArray &bytes, Wire::MacAddress &mac)
{
    if (bytes.size() != int(mac.size()))
        return false;
    std::copy(bytes.cbegin(), bytes.cend(), mac.begin());
    return true;
}

// The record as read, length word, direction and driver words included; A's length word
// has been checked against the buffer.
void copyRecord(const PacketBuffer &from, PacketBuffer &to)
{
    to.direction = from.direction;
    to.length = from.length;
    std::memcpy(to.driverWords, from.driverWords, sizeof to.driverWords);
    std::memcpy(to.frame, from.frame, from.length);
}

// An ARP body for Ethernet (6-byte) and IPv4 (4-byte) addresses, the only one whose
// addresses lie where ARPView reads and writes them.
bool isEthernetIPv4(const FrameView &frame)
{
    const ByteView body = frame.bytes().from(Wire::kEthernetHeaderSize);
    return body.u8(Wire::kARPHardwareSize) == Wire::kMacSize && body.u8(Wire::kARPProtocolSize) == 4;
}

} // namespace

BridgeForwarder::BridgeForwarder(const ForwarderContext &context)
    : m_context(context)
    , m_dhcp(context.users)
{
}

std::unique_ptr<Forwarder> BridgeForwarder::create(const ForwarderContext &context)
{
    return std::make_unique<BridgeForwarder>(context);
}

void BridgeForwarder::handle(PacketRequest &request)
{
    if (!m_context.copy || !FrameView(*request.buffer).valid())
        return;
    copyRecord(*request.buffer, *m_context.copy->buffer);
    Frame frame{&request, FrameView(*m_context.copy->buffer), request.buffer->length,
                request.buffer->direction == PacketFromStack, false};
    bool goesOn = true;
    switch (frame.copy.etherType()) {
    case Wire::kEtherTypeIPv4:
        goesOn = ipv4Steps(frame);
        break;
    case Wire::kEtherTypeARP:
        goesOn = arpSteps(frame);
        break;
    default:
        break;
    }
    if (goesOn)
        dispatch(frame);
}

// False when the frame is dropped.
bool BridgeForwarder::ipv4Steps(Frame &frame)
{
    IPv4View ip = frame.copy.ipv4();
    if (!ip.valid())
        return false;
    const quint32 destination = ip.destination();
    if (!isPrivateEngine()) {
        frame.knownDestination = countForUser(destination, frame.length);
    } else {
        if (frame.fromHost)
            return false;
        learnSender(ip.source(), frame.copy.sourceMac(), frame.length);
    }
    if (DHCPSnooper::isDHCP(UDPView(ip)))
        m_dhcp.snoop(ip, otherWireless());
    if (ownWireless() && !frame.copy.isGroupDestination()) {
        Wire::MacAddress mac{};
        if (proxiedMac(destination, mac))
            frame.copy.setDestinationMac(mac);
        else if (isPrivateEngine() && gatewayKnown())
            frame.copy.setDestinationMac(m_gatewayMac);
    }
    hideSource(frame);
    return true;
}

// False when the frame is dropped.
bool BridgeForwarder::arpSteps(Frame &frame)
{
    ARPView arp = frame.copy.arp();
    if (!arp.valid())
        return false;
    if (!isEthernetIPv4(frame.copy))
        return true;
    const quint32 sender = arp.senderAddress();
    const quint32 target = arp.targetAddress();
    if (!isPrivateEngine()) {
        frame.knownDestination = countForUser(target, frame.length);
    } else if (frame.fromHost) {
        if (!frame.copy.isGroupDestination())
            return false;
    } else {
        learnSender(sender, frame.copy.sourceMac(), frame.length);
    }
    Wire::MacAddress mac{};
    if (ownWireless() && !frame.copy.isGroupDestination() && proxiedMac(target, mac)) {
        arp.setTargetMac(mac);
        frame.copy.setDestinationMac(mac);
    }
    if (otherWireless() && frame.copy.destinationMac() != m_context.other.mac) {
        if (sender != 0)
            rememberProxied(sender, arp.senderMac());
        arp.setSenderMac(m_context.other.mac);
        frame.copy.setSourceMac(m_context.other.mac);
    }
    return true;
}

void BridgeForwarder::dispatch(Frame &frame)
{
    FrameSender &sender = *m_context.sender;
    PacketRequest &read = *frame.read;
    PacketRequest &copy = *m_context.copy;
    if (frame.copy.isGroupDestination()) {
        sender.send(read, SendRoute::Same);
        sender.send(copy, SendRoute::Stack);
        sender.send(copy, SendRoute::Wire);
        return;
    }
    if (frame.fromHost) {
        if (frame.knownDestination)
            sender.send(copy, SendRoute::Wire);
        else
            sender.send(read, SendRoute::Same);
        return;
    }
    const Wire::MacAddress destination = frame.copy.destinationMac();
    const bool forOwn = destination == m_context.own.mac;
    const bool forOther = destination == m_context.other.mac;
    if (forOwn)
        sender.send(read, SendRoute::Same);
    if (forOther)
        sender.send(copy, SendRoute::Stack);
    if (!forOwn && !forOther)
        sender.send(copy, SendRoute::Wire);
}

bool BridgeForwarder::isPrivateEngine() const
{
    return m_context.direction == 1;
}

bool BridgeForwarder::ownWireless() const
{
    return m_context.ownKind == NetworkInterface::Wireless;
}

bool BridgeForwarder::otherWireless() const
{
    return m_context.otherKind == NetworkInterface::Wireless;
}

// Counts a frame for the user at the address; true when it is a user.
bool BridgeForwarder::countForUser(quint32 address, quint32 length)
{
    if (m_context.users->macOf(address).isEmpty())
        return false;
    m_context.users->update(address, UserReceived, length);
    return true;
}

// A client's frame: counted when the sender is a user, else the sender becomes one.
void BridgeForwarder::learnSender(quint32 address, const Wire::MacAddress &mac, quint32 length)
{
    if (address == 0)
        return;
    if (!m_context.users->macOf(address).isEmpty()) {
        m_context.users->update(address, UserSent, length);
        return;
    }
    UserRecord record;
    record.origin = UserFromTraffic;
    record.mac = macBytes(mac);
    m_context.users->add(address, record);
}

bool BridgeForwarder::proxiedMac(quint32 address, Wire::MacAddress &mac) const
{
    return toMac(m_context.proxy->macOf(address), mac);
}

// The first MAC seen for an address stays; the look-up first keeps known senders from
// building a byte array per frame.
void BridgeForwarder::rememberProxied(quint32 address, const Wire::MacAddress &mac)
{
    if (m_context.proxy->macOf(address).isEmpty())
        m_context.proxy->insertIfAbsent(address, macBytes(mac));
}

// The upstream gateway's MAC is set before the engines start; it is read once it is there.
bool BridgeForwarder::gatewayKnown()
{
    if (!m_gatewayKnown)
        m_gatewayKnown = toMac(m_context.users->gatewayMac(), m_gatewayMac);
    return m_gatewayKnown;
}

// Towards a wireless adapter every frame not addressed to that adapter carries its MAC.
void BridgeForwarder::hideSource(Frame &frame) const
{
    if (otherWireless() && frame.copy.destinationMac() != m_context.other.mac)
        frame.copy.setSourceMac(m_context.other.mac);
}
