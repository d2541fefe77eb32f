// SPDX-License-Identifier: GPL-3.0-or-later
// RouterICMP: router-mode translation of ICMP echo messages and of errors about translated flows.
#pragma once

#include "engine/routerpath.h"

class ICMPView;
class QuotedHeaderView;

// How this works: the ICMP checksum is verified first and a mismatch drops the message.
//   private engine (from a client): a message for the gateway address goes to the host's
//     stack. An echo request (type 8) leaves through the ICMP table with the public address
//     and the external identifier. A destination unreachable (type 3) that quotes a UDP
//     datagram a client received through the translator (RFC 792: the quote is the
//     datagram's IP header and first 8 payload bytes) is matched outbound with flags 4
//     (never creating a mapping, shortening the flow's life) and leaves quoting the public
//     address and external port.
//   public engine (from the Internet): an echo reply (type 0) is matched by its identifier
//     and source and goes back to the client with the client's identifier. A destination
//     unreachable or time exceeded (types 3, 11) quoting a translated UDP datagram or echo
//     request is matched through the quote and goes back to the client with the quote
//     rewritten to the client's own address, port or identifier.
// The quoted header's checksum must be right (else drop); after rewriting it is filled
// again, and the quoted transport checksum is set to 0: the quote rarely holds the whole
// datagram, so its checksum could not be recomputed, and 0 is what UDP reads as "none".
// Everything not matched is passed; quotes of TCP segments are never translated.
class RouterICMP
{
public:
    explicit RouterICMP(RouterPath &path);

    void handle(RouterFrame &frame);

private:
    void fromClient(RouterFrame &frame, ICMPView &icmp);
    void fromInternet(RouterFrame &frame, ICMPView &icmp);
    void echoRequest(RouterFrame &frame, ICMPView &icmp);
    void echoReply(RouterFrame &frame, ICMPView &icmp);
    void clientError(RouterFrame &frame, QuotedHeaderView &quote);
    void internetError(RouterFrame &frame, QuotedHeaderView &quote);
    bool quotedUDPToClient(RouterFrame &frame, QuotedHeaderView &quote);
    bool quotedEchoToClient(RouterFrame &frame, QuotedHeaderView &quote);
    void sendToClient(RouterFrame &frame, QuotedHeaderView &quote, quint32 client,
                      const QByteArray &mac);

    RouterPath &m_path;
};
