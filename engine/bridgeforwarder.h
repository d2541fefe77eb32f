// SPDX-License-Identifier: GPL-3.0-or-later
// BridgeForwarder: the per-frame decision of an engine in bridge mode.
#pragma once

#include "engine/dhcpsnooper.h"
#include "engine/forwarder.h"
#include "engine/frameview.h"

// How this works: the two adapters form one layer-2 segment. Every frame read (A, in the
// engine's first buffer) is copied once into the engine's second buffer (B, on the other
// adapter's handle); every rewrite is made on B, and A stays as read. A wireless adapter
// sends only with its own source MAC and receives only frames addressed to it, so:
//   - frames leaving through a wireless adapter get its MAC as Ethernet source (and as ARP
//     sender), and the real MAC behind each ARP sender is kept in the proxy table; an entry
//     there is never replaced;
//   - unicast frames arriving on a wireless adapter get the real MAC back as destination
//     (from the proxy table; IPv4 frames the private engine cannot place go to the
//     upstream gateway's MAC);
//   - DHCP client messages leaving through a wireless adapter ask for broadcast answers.
// On the way the user table learns the clients: the private engine adds or counts every
// sender, the public engine counts frames for known users and marks them as known
// destinations; DHCP requests give host names and acknowledgements add users.
//
// Steps per frame, in order:
//   1. a record whose length word is below the Ethernet header or above the buffer: drop;
//   2. copy A into B;
//   3. IPv4 and ARP get their steps (below); a packet shorter than the header it claims
//      (IPv4 lengths, a 28-byte Ethernet/IPv4 ARP body) is dropped; ARP of other address
//      sizes and every other EtherType (IPv6, VLAN tags, ...) skip to step 4 untouched;
//   4. the dispatch on B's destination MAC:
//        group address                      A as read; B to the stack; B to the wire
//        from the wire, own and other MAC   A as read; B to the stack
//        from the wire, own MAC             A as read
//        from the wire, other MAC           B to the stack
//        from the wire, anything else       B to the wire
//        from the host, known destination   B to the wire
//        from the host, otherwise           A as read
// The private engine drops every IPv4 frame the host sent on the hotspot adapter, and its
// unicast ARP frames; its ARP broadcasts cross without table work. Frames keep their length
// and are never fragmented; no IP header changes except the DHCP flag. Nothing is allocated
// per frame except when a table learns something new or a DHCP message is read.
class BridgeForwarder : public Forwarder
{
public:
    explicit BridgeForwarder(const ForwarderContext &context);
    void handle(PacketRequest &request) override;

    static std::unique_ptr<Forwarder> create(const ForwarderContext &context);

private:
    // One frame on its way: A as read, the view of B, and what the steps found out.
    struct Frame {
        PacketRequest *read;
        FrameView copy;
        quint32 length;  // A's length word
        bool fromHost;   // A's direction word is 1
        bool knownDestination;
    };

    bool ipv4Steps(Frame &frame);
    bool arpSteps(Frame &frame);
    void dispatch(Frame &frame);

    bool isPrivateEngine() const;
    bool ownWireless() const;
    bool otherWireless() const;
    bool countForUser(quint32 address, quint32 length);
    void learnSender(quint32 address, const Wire::MacAddress &mac, quint32 length);
    bool proxiedMac(quint32 address, Wire::MacAddress &mac) const;
    void rememberProxied(quint32 address, const Wire::MacAddress &mac);
    bool gatewayKnown();
    void hideSource(Frame &frame) const;

    ForwarderContext m_context;
    DHCPSnooper m_dhcp;
    Wire::MacAddress m_gatewayMac{};
    bool m_gatewayKnown = false;
};
