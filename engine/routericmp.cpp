// SPDX-License-Identifier: GPL-3.0-or-later
// RouterICMP: router-mode translation of ICMP echo messages and of errors about translated flows.
#include "engine/routericmp.h"

#include "engine/checksum.h"
#include "engine/icmpview.h"
#include "engine/natservice.h"
#include "engine/porttable.h"
#include "engine/quotedheaderview.h"
#include "engine/querytable.h"

#include <QtEndian>

namespace {

// The flags a look-up passes for an ICMP error about a flow: read as a reset.
constexpr quint8 kErrorFlags = Wire::kTCPRst;

} // namespace

RouterICMP::RouterICMP(RouterPath &path)
    : m_path(path)
{
}

void RouterICMP::handle(RouterFrame &frame)
{
    if (!Checksum::verifyICMP(frame.ip))
        return;
    ICMPView icmp(frame.ip);
    if (m_path.isPrivateEngine())
        fromClient(frame, icmp);
    else
        fromInternet(frame, icmp);
}

void RouterICMP::fromClient(RouterFrame &frame, ICMPView &icmp)
{
    if (frame.ip.destination() == m_path.ownAddress() || !m_path.gatewayKnown()) {
        m_path.pass(frame);
        return;
    }
    if (icmp.type() == Wire::kICMPEchoRequest) {
        echoRequest(frame, icmp);
    } else if (icmp.type() == Wire::kICMPDestinationUnreachable) {
        QuotedHeaderView quote(icmp);
        if (Checksum::verifyQuotedHeader(quote))
            clientError(frame, quote);
    } else {
        m_path.pass(frame);
    }
}

void RouterICMP::fromInternet(RouterFrame &frame, ICMPView &icmp)
{
    if (icmp.type() == Wire::kICMPEchoReply) {
        echoReply(frame, icmp);
    } else if (icmp.isError()) {
        QuotedHeaderView quote(icmp);
        if (Checksum::verifyQuotedHeader(quote))
            internetError(frame, quote);
    } else {
        m_path.pass(frame);
    }
}

void RouterICMP::echoRequest(RouterFrame &frame, ICMPView &icmp)
{
    const quint32 client = frame.ip.source();
    const std::optional<quint16> identifier = m_path.translator().icmpTable()->translateOutbound(
        client, frame.ip.destination(), icmp.identifier(), frame.length);
    if (!identifier) {
        m_path.pass(frame);
        return;
    }
    frame.ip.setSource(m_path.publicAddress());
    icmp.setIdentifier(qToBigEndian(*identifier));
    Checksum::fillICMP(frame.ip);
    m_path.toInternet(frame, client);
}

void RouterICMP::echoReply(RouterFrame &frame, ICMPView &icmp)
{
    const std::optional<QueryKey> key = m_path.translator().icmpTable()->translateInbound(
        qFromBigEndian(icmp.identifier()), frame.ip.source(), frame.length);
    const QByteArray mac = key ? m_path.userMac(key->privateAddress) : QByteArray();
    if (mac.isEmpty()) {
        m_path.pass(frame);
        return;
    }
    frame.ip.setDestination(key->privateAddress);
    icmp.setIdentifier(key->identifier);
    Checksum::fillICMP(frame.ip);
    m_path.toClient(frame, key->privateAddress, mac);
}

// A client refuses a datagram that reached it through the translator: the quote names the
// remote end as its source and the client as its destination.
void RouterICMP::clientError(RouterFrame &frame, QuotedHeaderView &quote)
{
    const quint32 client = frame.ip.source();
    std::optional<quint16> port;
    if (quote.protocol() == Wire::kProtocolUDP)
        port = m_path.translator().udpTable()->translateOutbound(
            quote.destination(), quote.udpDestinationPort(), quote.source(),
            quote.udpSourcePort(), frame.length, kErrorFlags);
    if (!port) {
        m_path.pass(frame);
        return;
    }
    quote.setDestination(m_path.publicAddress());
    quote.setUdpDestinationPort(qToBigEndian(*port));
    quote.setUdpChecksum(0);
    Checksum::fillQuotedHeader(quote);
    frame.ip.setSource(m_path.publicAddress());
    Checksum::fillICMP(frame.ip);
    m_path.toInternet(frame, client);
}

// The Internet refuses a packet the translator sent: the quote names the public address
// and the external port or identifier as its source.
void RouterICMP::internetError(RouterFrame &frame, QuotedHeaderView &quote)
{
    bool sent = false;
    if (quote.protocol() == Wire::kProtocolUDP)
        sent = quotedUDPToClient(frame, quote);
    else if (quote.protocol() == Wire::kProtocolICMP)
        sent = quotedEchoToClient(frame, quote);
    if (!sent)
        m_path.pass(frame);
}

bool RouterICMP::quotedUDPToClient(RouterFrame &frame, QuotedHeaderView &quote)
{
    const std::optional<PortKey> key = m_path.translator().udpTable()->translateInbound(
        qFromBigEndian(quote.udpSourcePort()), quote.destination(), quote.udpDestinationPort(),
        frame.length, kErrorFlags);
    const QByteArray mac = key ? m_path.userMac(key->privateAddress) : QByteArray();
    if (mac.isEmpty())
        return false;
    quote.setUdpSourcePort(key->privatePort);
    quote.setUdpChecksum(0);
    sendToClient(frame, quote, key->privateAddress, mac);
    return true;
}

bool RouterICMP::quotedEchoToClient(RouterFrame &frame, QuotedHeaderView &quote)
{
    const std::optional<QueryKey> key = m_path.translator().icmpTable()->translateInbound(
        qFromBigEndian(quote.icmpIdentifier()), quote.destination(), frame.length);
    const QByteArray mac = key ? m_path.userMac(key->privateAddress) : QByteArray();
    if (mac.isEmpty())
        return false;
    quote.setIcmpChecksum(0);
    quote.setIcmpIdentifier(key->identifier);
    sendToClient(frame, quote, key->privateAddress, mac);
    return true;
}

void RouterICMP::sendToClient(RouterFrame &frame, QuotedHeaderView &quote, quint32 client,
                              const QByteArray &mac)
{
    quote.setSource(client);
    Checksum::fillQuotedHeader(quote);
    frame.ip.setDestination(client);
    Checksum::fillICMP(frame.ip);
    m_path.toClient(frame, client, mac);
}
