// SPDX-License-Identifier: GPL-3.0-or-later
// DHCPResponder: the lease table and the answer to every DHCP message, without sockets.
#pragma once

#include "engine/dhcpprotocol.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QVector>
#include <QtGlobal>
#include <optional>

// One address given to a client. An offer holds the address for a few seconds; a bound
// lease runs for its duration. Times are UpTime seconds.
struct DhcpLease {
    QByteArray mac;        // the client hardware address (the first hlen bytes of chaddr)
    quint32 duration = 0;  // seconds, the value sent as option 51
    quint32 expiry = 0;    // clock seconds
    bool bound = false;    // acknowledged, and neither released nor only offered since
};

// Addresses here are IPv4 addresses in host order (QHostAddress::toIPv4Address()).
class DHCPResponder
{
public:
    // Seconds an offered address stays reserved for the client it was offered to.
    static constexpr quint32 kOfferHoldSeconds = 10;
    // The domain name sent as option 15.
    static const QByteArray kDomainName;

    struct UserChange {
        enum Kind { Add, Remove };
        Kind kind = Add;
        quint32 address = 0;
        QByteArray mac;      // Add only
        QByteArray hostName; // Add only; option 12, empty when absent
    };
    // What one message leads to: a reply (empty when none) for `destination` port 68, and
    // the user table changes to make.
    struct Outcome {
        QByteArray reply;
        quint32 destination = Dhcp::kBroadcastAddress;
        QVector<UserChange> userChanges;
    };

    void setServerAddress(quint32 address) { m_server = address; }
    void setRouter(quint32 router, quint32 mask) { m_router = router; m_mask = mask; }
    void setDnsServer(quint32 address) { m_dns = address; }
    void setRange(quint32 first, quint32 last) { m_first = first; m_last = last; }
    void setLeaseTime(int seconds) { m_leaseTime = seconds > 0 ? quint32(seconds) : 0; }
    void setIgnoredMac(const QByteArray &mac) { m_ignoredMac = mac; }

    // Decides the answer to one datagram received at `now`. Malformed and foreign
    // messages give an empty outcome and change nothing.
    Outcome handle(const QByteArray &datagram, quint32 now);

    const QHash<quint32, DhcpLease> &leases() const { return m_leases; }
    const QSet<quint32> &declined() const { return m_declined; }

private:
    struct Message;

    Outcome discover(const Message &message, quint32 now);
    Outcome request(const Message &message, quint32 now);
    Outcome decline(const Message &message);
    Outcome release(const Message &message, quint32 now);
    Outcome inform(const Message &message) const;

    std::optional<quint32> knownAddress(const QByteArray &mac);
    bool inPool(quint32 address) const;
    bool isAvailable(quint32 address) const;
    std::optional<quint32> allocate(quint32 now);
    void forget(quint32 address);
    quint32 remaining(const DhcpLease &lease, quint32 now) const;

    Outcome acknowledge(const Message &message, quint32 address);
    Outcome refuse(const Message &message) const;
    QByteArray reply(const Message &message, quint8 type, quint32 address,
                     const DhcpLease *lease) const;

    quint32 m_server = 0;
    quint32 m_router = 0;
    quint32 m_mask = 0;
    quint32 m_dns = 0;
    quint32 m_first = 0;
    quint32 m_last = 0;
    quint32 m_leaseTime = 0;
    QByteArray m_ignoredMac;

    QHash<quint32, DhcpLease> m_leases;
    QHash<QByteArray, quint32> m_addressesByMac;
    QSet<quint32> m_declined;
};
