// SPDX-License-Identifier: GPL-3.0-or-later
// RouterForwarder: the per-frame decision of an engine in router mode.
#include "engine/routerforwarder.h"

#include "engine/arptable.h"
#include "engine/checksum.h"
#include "engine/natservice.h"
#include "engine/reassembler.h"
#include "engine/timeexceeded.h"
#include "engine/userrecord.h"


RouterForwarder::RouterForwarder(const ForwarderContext &context)
    : m_context(context)
    , m_path(context)
    , m_transport(m_path)
    , m_icmp(m_path)
{
}

std::unique_ptr<Forwarder> RouterForwarder::create(const ForwarderContext &context)
{
    return std::make_unique<RouterForwarder>(context);
}

void RouterForwarder::handle(PacketRequest &request)
{
    const FrameView frame(*request.buffer);
    if (!frame.valid())
        return;
    if (frame.isGroupDestination() || frame.etherType() != Wire::kEtherTypeIPv4) {
        m_path.passUntouched(request);
        return;
    }
    RouterFrame current{&request, frame, frame.ipv4(), request.buffer->length};
    if (!Checksum::verifyIPv4Header(current.ip))
        return;
    if (current.ip.isFragment() && !reassemble(current))
        return;
    if (m_path.isPrivateEngine() && hostFrame(current))
        return;
    if (current.ip.destination() != m_path.ownAddress() && !hop(current))
        return;
    dispatch(current);
}

// Replaces the fragment by the whole datagram once it is complete; false while it is not.
bool RouterForwarder::reassemble(RouterFrame &frame)
{
    const Reassembler::Result result = m_context.reassembler->offer(frame.ip);
    if (result.outcome != Reassembler::Outcome::Complete)
        return false;
    frame.ip = result.packet;
    return true;
}

// Private engine: frames the host sent on the hotspot adapter go out as they are, except
// those from 192.168.137.1. A client's frame may make it a user. True when the frame is done.
bool RouterForwarder::hostFrame(RouterFrame &frame)
{
    if (frame.request->buffer->direction == PacketFromStack) {
        if (frame.ip.source() != kDroppedHostSource)
            m_path.pass(frame);
        return true;
    }
    learnUser(frame);
    return false;
}

// A source that claims the gateway's own address is never taken for a client.
void RouterForwarder::learnUser(const RouterFrame &frame)
{
    const quint32 source = frame.ip.source();
    if (source == m_path.ownAddress() || !m_path.translator().isInSubnet(source)
        || !m_path.userMac(source).isEmpty())
        return;
    const Wire::MacAddress mac = frame.frame.sourceMac();
    UserRecord record;
    record.origin = UserFromTraffic;
    record.mac = QByteArray(reinterpret_cast<const char *>(mac.data()), int(mac.size()));
    m_path.users().add(source, record);
}

// One router hop for a packet that is not for the own address; false when it ends here.
bool RouterForwarder::hop(RouterFrame &frame)
{
    const quint8 ttl = frame.ip.timeToLive();
    if (ttl <= 1) {
        if (!TimeExceeded::mayAnswer(frame.ip))
            return false;
        RouterFrame answer = frame;
        answer.ip = TimeExceeded::write(*frame.request->buffer, frame.ip, m_path.ownAddress(),
                                        m_path.ownMac());
        if (answer.ip.valid())
            m_path.reply(answer);
        return false;
    }
    frame.ip.setTimeToLive(quint8(ttl - 1));
    Checksum::fillIPv4Header(frame.ip);
    return true;
}

void RouterForwarder::dispatch(RouterFrame &frame)
{
    switch (frame.ip.protocol()) {
    case Wire::kProtocolTCP:
        m_transport.tcp(frame);
        break;
    case Wire::kProtocolUDP:
        m_transport.udp(frame);
        break;
    case Wire::kProtocolICMP:
        m_icmp.handle(frame);
        break;
    default:
        m_path.pass(frame);
        break;
    }
}
