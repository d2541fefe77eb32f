// SPDX-License-Identifier: GPL-3.0-or-later
// RouterPath: what router-mode forwarding knows of its engine, and its three ways to send.
#include "engine/routerpath.h"

#include "engine/arptable.h"
#include "engine/checksum.h"
#include "engine/framesender.h"
#include "engine/userrecord.h"

#include <algorithm>

namespace {

Wire::MacAddress toMac(const QByteArray &bytes)
{
    Wire::MacAddress mac{};
    if (bytes.size() == int(mac.size()))
        std::copy(bytes.cbegin(), bytes.cend(), mac.begin());
    return mac;
}

} // namespace

RouterPath::RouterPath(const ForwarderContext &context)
    : m_context(context)
{
}

quint32 RouterPath::publicAddress() const
{
    return isPrivateEngine() ? m_context.other.address : m_context.own.address;
}

QByteArray RouterPath::userMac(quint32 address) const
{
    const QByteArray mac = m_context.users->macOf(address);
    return mac.size() == int(Wire::kMacSize) ? mac : QByteArray();
}

bool RouterPath::gatewayKnown()
{
    if (!m_gatewayKnown) {
        const QByteArray mac = m_context.users->gatewayMac();
        if (mac.size() == int(Wire::kMacSize)) {
            m_gatewayMac = toMac(mac);
            m_gatewayKnown = true;
        }
    }
    return m_gatewayKnown;
}

void RouterPath::passUntouched(PacketRequest &request) const
{
    m_context.sender->send(request, SendRoute::Same);
}

void RouterPath::pass(RouterFrame &frame) const
{
    m_context.sender->send(*frame.request, SendRoute::Same, 0, &frame.ip);
}

void RouterPath::reply(RouterFrame &frame) const
{
    m_context.sender->send(*frame.request, SendRoute::Wire, 0, &frame.ip);
}

void RouterPath::toInternet(RouterFrame &frame, quint32 sender)
{
    m_context.users->update(sender, UserSent, frame.length);
    forward(frame, m_gatewayMac);
}

void RouterPath::toClient(RouterFrame &frame, quint32 user, const QByteArray &userMac)
{
    m_context.users->update(user, UserReceived, frame.length);
    forward(frame, toMac(userMac));
}

void RouterPath::forward(RouterFrame &frame, const Wire::MacAddress &destination) const
{
    frame.frame.setSourceMac(m_context.other.mac);
    frame.frame.setDestinationMac(destination);
    Checksum::fillIPv4Header(frame.ip);
    m_context.sender->send(*frame.request, SendRoute::Wire, m_context.other.handle, &frame.ip);
}
