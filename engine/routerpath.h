// SPDX-License-Identifier: GPL-3.0-or-later
// RouterPath: what router-mode forwarding knows of its engine, and its three ways to send.
#pragma once

#include "engine/forwarder.h"
#include "engine/frameview.h"
#include "engine/ipv4view.h"
#include "engine/wire.h"

#include <QByteArray>

// One frame being decided: its request, the frame as read, the IP packet (in the frame, or
// the reassembled datagram) and the frame length as read, which every traffic count uses.
struct RouterFrame {
    PacketRequest *request = nullptr;
    FrameView frame;
    IPv4View ip;
    quint32 length = 0;
};

// The sends of router mode:
//   pass     the frame goes on in its own direction (up to the host's stack when it came
//            from the wire, out on the wire when the host sent it), re-fragmented to the own
//            adapter's MTU when needed;
//   forward  onto the wire of the other adapter, cut to its MTU; the frame is counted for the
//            user first, its MACs set and its IP header checksum filled (the caller has
//            filled the transport checksum after its last change);
//   reply    onto the wire of the own adapter.
// The upstream gateway's MAC is read from the user table until it is known and then kept:
// it is set before the engines start and stays for the whole run.
class RouterPath
{
public:
    explicit RouterPath(const ForwarderContext &context);

    bool isPrivateEngine() const { return m_context.direction == 1; }
    // The own side's IPv4 address (network order): the hotspot gateway for the private
    // engine, the host's Internet-side address for the public engine.
    quint32 ownAddress() const { return m_context.own.address; }
    const Wire::MacAddress &ownMac() const { return m_context.own.mac; }
    // The host's Internet-side address (network order), seen from either engine.
    quint32 publicAddress() const;
    ARPTable &users() const { return *m_context.users; }
    NATService &translator() const { return *m_context.translator; }

    // The user's MAC, or an empty array when the address is not a user.
    QByteArray userMac(quint32 address) const;
    // False while the upstream gateway's MAC is unknown: nothing can be forwarded out then.
    bool gatewayKnown();

    void passUntouched(PacketRequest &request) const;
    void pass(RouterFrame &frame) const;
    void reply(RouterFrame &frame) const;
    // Counts the frame as sent by `sender` and forwards it to the upstream gateway.
    void toInternet(RouterFrame &frame, quint32 sender);
    // Counts the frame as received by `user` and forwards it to the user's MAC.
    void toClient(RouterFrame &frame, quint32 user, const QByteArray &userMac);

private:
    void forward(RouterFrame &frame, const Wire::MacAddress &destination) const;

    ForwarderContext m_context;
    Wire::MacAddress m_gatewayMac{};
    bool m_gatewayKnown = false;
};
