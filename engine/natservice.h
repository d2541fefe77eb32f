// SPDX-License-Identifier: GPL-3.0-or-later
// NATService: router mode's translation tables, their idle time-outs and purges.
#pragma once

#include "engine/porttable.h"
#include "engine/querytable.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPair>
#include <QTimer>

#include <atomic>

class UpTime;

// How this works
//
// The service owns the TCP and UDP port tables and the ICMP query table and expires their
// mappings on the UpTime clock. Idle time-outs in seconds per state (a state without a
// value expires at the next purge):
//
//   state  1     2   3   4     5   6   7     8   9   10  11  12
//   TCP    3600  30  30  7440  30  30  3720  10  30  30  10  -
//   UDP    3600  -   -   180   -   -   -     -   -   -   10  30
//
// A UDP mapping in state 4 whose remote port is 53 (a DNS exchange) expires after 30
// seconds instead of 180. ICMP mappings expire after 60 idle seconds. A static mapping is
// thus dropped 3600 seconds after its last use unless its owner adds it again.
//
// Each purge re-arms its own timer for the moment the next mapping can expire: the TCP and
// UDP purges wait that many seconds when it is 1 to 10, else 10; the ICMP purge waits 1 to
// 60 seconds, else 60. start() arms them at 10, 10 and 60 seconds; stop() disarms them and
// empties the three tables, static mappings included. A purge that runs while the service
// is stopped does not re-arm its timer.
//
// Threads: the tables are used by both engine threads and by the owner's thread at once;
// each guards itself with its own mutex, and no operation here holds two of them. The
// purge slots and the timers belong to the thread the service lives in. The subnet, the
// private gateway and the DNS server are set before start() and only read afterwards;
// they are atomic words, so the engines may read them per frame.
class NATService : public QObject
{
    Q_OBJECT

public:
    explicit NATService(UpTime *clock, QObject *parent = nullptr);

    // The hotspot network, from an address inside it and its dotted mask. False (and the
    // subnet forgotten: no address lies in it) for a non-IPv4 address or a mask that is not
    // a contiguous run of leading ones.
    bool setSubnet(const QHostAddress &address, const QHostAddress &mask);
    // Both store the IPv4 address in network order; false (and 0 stored) when it is not
    // IPv4.
    bool setPrivateGateway(const QHostAddress &address);
    bool setDnsServer(const QHostAddress &address);

    void start();
    void stop();

    PortTable *tcpTable();
    PortTable *udpTable();
    QueryTable *icmpTable();

    // Network address and prefix length; (QHostAddress(), -1) when no subnet is set.
    QPair<QHostAddress, int> subnet() const;
    // Whether the IPv4 address (network order) lies in the subnet. For the per-frame path.
    bool isInSubnet(quint32 address) const;
    // Network order; 0 when unset.
    quint32 privateGateway() const;
    quint32 dnsServer() const;

    // The idle time-out that applies to a mapping, in seconds.
    quint32 tcpIdleSeconds(const PortEntry &entry) const;
    quint32 udpIdleSeconds(const PortKey &key, const PortEntry &entry) const;

private slots:
    void tcpTimeout();
    void udpTimeout();
    void icmpTimeout();

private:
    static void rearm(QTimer &timer, quint32 smallestRemaining, int longestSeconds);
    void pairDnsEndpoints();

    PortTable m_tcpTable;
    PortTable m_udpTable;
    QueryTable m_icmpTable;
    QHash<int, quint32> m_tcpTimeouts;
    QHash<int, quint32> m_udpTimeouts;
    std::atomic<quint32> m_subnetNetwork{0}; // network order
    std::atomic<quint32> m_subnetMask{0};    // network order
    std::atomic<int> m_subnetPrefix{-1};
    std::atomic<quint32> m_privateGateway{0};
    std::atomic<quint32> m_dnsServer{0};
    QTimer m_tcpTimer;
    QTimer m_udpTimer;
    QTimer m_icmpTimer;
};
