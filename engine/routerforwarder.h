// SPDX-License-Identifier: GPL-3.0-or-later
// RouterForwarder: the per-frame decision of an engine in router mode.
#pragma once

#include "engine/forwarder.h"
#include "engine/routericmp.h"
#include "engine/routerpath.h"
#include "engine/routertransport.h"

#include <QtEndian>

// How this works: the hotspot is a private IPv4 network behind the host's Internet-side
// address. Each engine runs these steps on every frame it reads, in order:
//   1. a group destination MAC, or an EtherType other than IPv4: pass untouched (ARP, DHCP
//      broadcasts, IPv6 reach the host's stack or the wire as they are);
//   2. a frame too short for its headers, or a wrong IPv4 header checksum: drop;
//   3. a fragment (flags-and-offset neither 0 nor don't-fragment): reassemble; an
//      incomplete or rejected datagram stops here, a complete one is decided whole;
//   4. private engine only: a frame the host sent goes on (dropped when its source is
//      192.168.137.1); a client's frame from an address of the private subnet that is not a
//      user yet adds it to the user table;
//   5. a packet not for the own address: TTL 1 or less is answered with an ICMP time
//      exceeded from the own address (RFC 1812 section 5.3.1), else the TTL is lowered;
//   6. TCP, UDP and ICMP are translated (RouterTransport, RouterICMP); anything else passes.
// Every look-up that fails passes the packet on in its direction, so the host's own stack
// keeps working on both sides; checksum failures drop silently. Nothing is allocated per
// frame: packets are edited in place in the engine's buffer (or its reassembly buffer).
class RouterForwarder : public Forwarder
{
public:
    explicit RouterForwarder(const ForwarderContext &context);
    void handle(PacketRequest &request) override;

    static std::unique_ptr<Forwarder> create(const ForwarderContext &context);

    // The source address of host frames the private engine never lets out: 192.168.137.1,
    // the address the host's own connection sharing may put on the hotspot adapter
    // (network order).
    static constexpr quint32 kDroppedHostSource = qToBigEndian(quint32(0xC0A88901));

private:
    bool reassemble(RouterFrame &frame);
    bool hostFrame(RouterFrame &frame);
    void learnUser(const RouterFrame &frame);
    bool hop(RouterFrame &frame);
    void dispatch(RouterFrame &frame);

    ForwarderContext m_context;
    RouterPath m_path;
    RouterTransport m_transport;
    RouterICMP m_icmp;
};
