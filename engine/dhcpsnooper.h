// SPDX-License-Identifier: GPL-3.0-or-later
// DHCPSnooper: what bridge mode learns from, and changes in, the DHCP messages it relays.
#pragma once

#include "engine/dhcpprotocol.h"
#include "engine/ipv4view.h"
#include "engine/udpview.h"

class ARPTable;

// How this works: the DHCP message (RFC 2131 section 2) is the payload of a UDP datagram to
// port 67 or 68 that crosses the bridge; it is read in place in the relayed copy.
//   - A client message (op 1) that is a REQUEST (option 53 = 3) and carries a host name
//     (option 12) gives the user table that name for the client hardware address (the
//     first hlen bytes of chaddr, at most the 16 the field holds).
//   - A client message going out through a wireless adapter whose flags are 0 gets the
//     broadcast flag 0x8000 (RFC 2131 section 4.1): the client hides behind the adapter's
//     MAC, so only a broadcast answer reaches it. The UDP checksum, when the sender computed
//     one, and then the IP header checksum are computed afresh.
//   - Any other message that is an ACK (option 53 = 5) adds its your-address (yiaddr) to
//     the user table with the client hardware address as MAC, learned from DHCP. An ACK
//     without an address (the answer to an INFORM, yiaddr 0) adds nothing.
// A message shorter than the 240-byte fixed part, or one whose IP header or UDP checksum is
// wrong, is left alone: a damaged message neither teaches the user table nor leaves with
// freshly computed checksums that would make it look sound.
class DHCPSnooper
{
public:
    explicit DHCPSnooper(ARPTable *users);

    // True for a UDP datagram to port 67 or 68.
    static bool isDHCP(const UDPView &udp);

    // Reads (and towards a wireless adapter edits) the message carried by the packet.
    void snoop(IPv4View &ip, bool towardsWireless);

private:
    void clientMessage(IPv4View &ip, ByteView message, quint8 type, const QByteArray &client,
                       const DhcpOptions &options, bool towardsWireless);
    void serverMessage(ByteView message, quint8 type, const QByteArray &client);

    ARPTable *m_users;
};
