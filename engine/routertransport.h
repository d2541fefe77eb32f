// SPDX-License-Identifier: GPL-3.0-or-later
// RouterTransport: router-mode translation of TCP segments and UDP datagrams.
#pragma once

#include "engine/routerpath.h"

class TCPView;
class UDPView;

// How this works: both engines verify the transport checksum first (UDP only when it is
// not 0) and drop a mismatch. Then
//   private engine (from a client): a packet for the gateway address goes to the host's
//     stack, except a UDP datagram to port 53 of the gateway, which is a DNS query to
//     redirect. The flow is looked up outbound (creating a mapping for a bare SYN or any
//     UDP datagram); the packet leaves from the public address and the external port, a
//     redirected query addressed to the upstream DNS server. The mapping of a redirected
//     query keeps the gateway as its remote end, so the answer can be told apart.
//   public engine (from the Internet): the destination port is looked up inbound; a
//     datagram from the DNS server's port 53 is first tried as the answer to a redirected
//     query (remote end the gateway, port 53) and then as ordinary traffic. The packet goes
//     to the mapping's private address and port, an answer to a redirected query with the
//     gateway address as its source.
// No mapping, or (inbound) a mapping whose private address is no longer a user: pass. A
// UDP checksum of 0 stays 0 (the sender computed none, RFC 768).
class RouterTransport
{
public:
    explicit RouterTransport(RouterPath &path);

    void tcp(RouterFrame &frame);
    void udp(RouterFrame &frame);

    static constexpr quint16 kDnsPort = 53;

private:
    void tcpFromClient(RouterFrame &frame, TCPView &tcp);
    void tcpFromInternet(RouterFrame &frame, TCPView &tcp);
    void udpFromClient(RouterFrame &frame, UDPView &udp);
    void udpFromInternet(RouterFrame &frame, UDPView &udp);

    RouterPath &m_path;
};
