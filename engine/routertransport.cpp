// SPDX-License-Identifier: GPL-3.0-or-later
// RouterTransport: router-mode translation of TCP segments and UDP datagrams.
#include "engine/routertransport.h"

#include "engine/checksum.h"
#include "engine/natservice.h"
#include "engine/porttable.h"
#include "engine/tcpview.h"
#include "engine/udpview.h"

#include <QtEndian>

namespace {

constexpr quint16 kDnsPortRaw = qToBigEndian(RouterTransport::kDnsPort);

} // namespace

RouterTransport::RouterTransport(RouterPath &path)
    : m_path(path)
{
}

void RouterTransport::tcp(RouterFrame &frame)
{
    if (!Checksum::verifyTCP(frame.ip))
        return;
    TCPView tcp(frame.ip);
    if (m_path.isPrivateEngine())
        tcpFromClient(frame, tcp);
    else
        tcpFromInternet(frame, tcp);
}

void RouterTransport::udp(RouterFrame &frame)
{
    if (!Checksum::verifyUDP(frame.ip))
        return;
    UDPView udp(frame.ip);
    if (m_path.isPrivateEngine())
        udpFromClient(frame, udp);
    else
        udpFromInternet(frame, udp);
}

void RouterTransport::tcpFromClient(RouterFrame &frame, TCPView &tcp)
{
    const quint32 client = frame.ip.source();
    if (frame.ip.destination() == m_path.ownAddress() || !m_path.gatewayKnown()) {
        m_path.pass(frame);
        return;
    }
    const std::optional<quint16> port = m_path.translator().tcpTable()->translateOutbound(
        client, tcp.sourcePort(), frame.ip.destination(), tcp.destinationPort(), frame.length,
        tcp.flags());
    if (!port) {
        m_path.pass(frame);
        return;
    }
    frame.ip.setSource(m_path.publicAddress());
    tcp.setSourcePort(qToBigEndian(*port));
    Checksum::fillTCP(frame.ip);
    m_path.toInternet(frame, client);
}

void RouterTransport::tcpFromInternet(RouterFrame &frame, TCPView &tcp)
{
    const std::optional<PortKey> key = m_path.translator().tcpTable()->translateInbound(
        qFromBigEndian(tcp.destinationPort()), frame.ip.source(), tcp.sourcePort(),
        frame.length, tcp.flags());
    const QByteArray mac = key ? m_path.userMac(key->privateAddress) : QByteArray();
    if (mac.isEmpty()) {
        m_path.pass(frame);
        return;
    }
    frame.ip.setDestination(key->privateAddress);
    tcp.setDestinationPort(key->privatePort);
    Checksum::fillTCP(frame.ip);
    m_path.toClient(frame, key->privateAddress, mac);
}

void RouterTransport::udpFromClient(RouterFrame &frame, UDPView &udp)
{
    NATService &translator = m_path.translator();
    const quint32 client = frame.ip.source();
    const bool dnsQuery = frame.ip.destination() == translator.privateGateway()
        && udp.destinationPort() == kDnsPortRaw;
    const bool forHost = !dnsQuery && frame.ip.destination() == m_path.ownAddress();
    if (forHost || !m_path.gatewayKnown()) {
        m_path.pass(frame);
        return;
    }
    const std::optional<quint16> port = translator.udpTable()->translateOutbound(
        client, udp.sourcePort(), frame.ip.destination(), udp.destinationPort(), frame.length,
        0);
    if (!port) {
        m_path.pass(frame);
        return;
    }
    if (dnsQuery)
        frame.ip.setDestination(translator.dnsServer());
    frame.ip.setSource(m_path.publicAddress());
    udp.setSourcePort(qToBigEndian(*port));
    Checksum::fillUDP(frame.ip);
    m_path.toInternet(frame, client);
}

void RouterTransport::udpFromInternet(RouterFrame &frame, UDPView &udp)
{
    NATService &translator = m_path.translator();
    PortTable &table = *translator.udpTable();
    const quint16 external = qFromBigEndian(udp.destinationPort());
    std::optional<PortKey> key;
    const bool dnsAnswer = frame.ip.source() == translator.dnsServer()
        && udp.sourcePort() == kDnsPortRaw;
    if (dnsAnswer)
        key = table.translateInbound(external, translator.privateGateway(), kDnsPortRaw,
                                     frame.length, 0);
    const bool redirected = key.has_value();
    if (!key)
        key = table.translateInbound(external, frame.ip.source(), udp.sourcePort(),
                                     frame.length, 0);
    const QByteArray mac = key ? m_path.userMac(key->privateAddress) : QByteArray();
    if (mac.isEmpty()) {
        m_path.pass(frame);
        return;
    }
    if (redirected)
        frame.ip.setSource(translator.privateGateway());
    frame.ip.setDestination(key->privateAddress);
    udp.setDestinationPort(key->privatePort);
    Checksum::fillUDP(frame.ip);
    m_path.toClient(frame, key->privateAddress, mac);
}
