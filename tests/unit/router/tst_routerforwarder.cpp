// SPDX-License-Identifier: GPL-3.0-or-later
// Router-mode forwarding: golden frames through both engines with real translation and user tables.
#include "routerbench.h"

#include "engine/checksum.h"
#include "engine/frameview.h"
#include "engine/icmpview.h"
#include "engine/quotedheaderview.h"
#include "engine/userrecord.h"

#include <QMap>
#include <QtTest>

namespace {

enum class Outcome {
    Forward,   // onto the other adapter's wire
    Reply,     // onto the own adapter's wire
    Pass,      // on in its own direction, as an IP packet (re-fragmented if needed)
    Untouched, // on in its own direction, the frame exactly as read
    Drop,      // nothing sent (also: a fragment held for reassembly)
};

struct Step {
    RouterBench::Side side = RouterBench::Private;
    QString input;
    Outcome outcome = Outcome::Drop;
    QStringList expected; // golden frames sent; empty for Pass/Untouched: the input itself
};

Step step(RouterBench::Side side, const char *input, Outcome outcome,
          QStringList expected = QStringList())
{
    return Step{side, QString::fromLatin1(input), outcome, expected};
}

const RouterBench::Side Priv = RouterBench::Private;
const RouterBench::Side Pub = RouterBench::Public;
const RouterBench::Side Host = RouterBench::Host;

const char *kClient = "192.168.51.10";
const char *kSecondClient = "192.168.51.11";

QString describe(const SentFrames &sent)
{
    return QStringLiteral("route %1 override %2 packet %3 frames %4")
        .arg(int(sent.route))
        .arg(sent.override)
        .arg(sent.packetGiven)
        .arg(sent.frames.size());
}

// Every checksum an IPv4 frame carries is right (the quote's header too).
bool checksumsHold(const QByteArray &bytes)
{
    QByteArray copy = bytes;
    const FrameView frame(ByteView::of(copy));
    const IPv4View ip = frame.ipv4();
    if (!ip.valid())
        return true; // not IPv4: nothing of ours to check
    if (!Checksum::verifyIPv4Header(ip))
        return false;
    if (ip.isFragment())
        return true;
    switch (ip.protocol()) {
    case Wire::kProtocolTCP: return Checksum::verifyTCP(ip);
    case Wire::kProtocolUDP: return Checksum::verifyUDP(ip);
    case Wire::kProtocolICMP: {
        const ICMPView icmp(ip);
        return Checksum::verifyICMP(ip)
            && (!icmp.isError() || Checksum::verifyQuotedHeader(QuotedHeaderView(icmp)));
    }
    default: return true;
    }
}

struct Counts {
    quint32 sentBytes = 0, sentPackets = 0, receivedBytes = 0, receivedPackets = 0;
};

quint32 ipv4Field(const QByteArray &frame, int offset)
{
    return frame.size() >= offset + 4
        ? qFromUnaligned<quint32>(frame.constData() + offset)
        : 0;
}

} // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(QVector<Step>)

class TestRouterForwarder : public QObject
{
    Q_OBJECT

private slots:
    void decisions_data();
    void decisions();
    void lyingLengthWordDropped_data();
    void lyingLengthWordDropped();
    void unknownGatewayLeavesClientTrafficToHost();
    void usersKeepTheirMac();
};

void TestRouterForwarder::decisions_data()
{
    QTest::addColumn<QVector<Step>>("steps");
    QTest::addColumn<QStringList>("users"); // the users after the last step

    const QStringList client{QString::fromLatin1(kClient)};
    const QStringList none;
    const Outcome F = Outcome::Forward, R = Outcome::Reply, P = Outcome::Pass,
                  U = Outcome::Untouched, D = Outcome::Drop;

    // TCP
    QTest::newRow("client SYN translated to the upstream gateway")
        << QVector<Step>{step(Priv, "tcp-syn-client", F, {"tcp-syn-public"})} << client;
    QTest::newRow("SYN-ACK translated back to the client")
        << QVector<Step>{step(Priv, "tcp-syn-client", F, {"tcp-syn-public"}),
                         step(Pub, "tcp-synack-internet", F, {"tcp-synack-client"})}
        << client;
    QTest::newRow("bad IPv4 checksum dropped before anything")
        << QVector<Step>{step(Priv, "tcp-syn-bad-ip-checksum", D)} << none;
    QTest::newRow("bad TCP checksum dropped, the sender still learned")
        << QVector<Step>{step(Priv, "tcp-syn-bad-checksum", D)} << client;
    QTest::newRow("client ACK without mapping passed with TTL lowered")
        << QVector<Step>{step(Priv, "tcp-ack-client", P, {"tcp-ack-client-hop"})} << client;
    QTest::newRow("Internet SYN without mapping goes to the host unchanged")
        << QVector<Step>{step(Pub, "tcp-stray-internet", P)} << none;
    QTest::newRow("TCP header claiming more than the segment dropped")
        << QVector<Step>{step(Priv, "tcp-header-beyond-segment", D)} << client;
    QTest::newRow("client outside the subnet: no user, replies not forwarded")
        << QVector<Step>{step(Priv, "tcp-syn-outsider", F, {"tcp-syn-outsider-public"}),
                         step(Pub, "tcp-synack-outsider-internet", P)}
        << none;

    // UDP and DNS
    QTest::newRow("DNS query to the gateway redirected, answer from the gateway")
        << QVector<Step>{step(Priv, "dns-query-gateway", F, {"dns-query-public"}),
                         step(Pub, "dns-answer-internet", F, {"dns-answer-client"})}
        << client;
    QTest::newRow("DNS server datagram without redirect uses the ordinary mapping")
        << QVector<Step>{step(Priv, "dns-query-direct", F, {"dns-query-direct-public"}),
                         step(Pub, "dns-answer-internet", F, {"dns-answer-direct-client"})}
        << client;
    QTest::newRow("redirected and direct DNS queries never share an external port")
        << QVector<Step>{step(Priv, "dns-query-gateway", F, {"dns-query-public"}),
                         step(Priv, "dns-query-direct", F, {"dns-query-direct-public-next"}),
                         step(Pub, "dns-answer-internet-next", F, {"dns-answer-direct-client"}),
                         step(Pub, "dns-answer-internet", F, {"dns-answer-client"})}
        << client;
    QTest::newRow("direct and redirected DNS queries never share an external port")
        << QVector<Step>{step(Priv, "dns-query-direct", F, {"dns-query-direct-public"}),
                         step(Priv, "dns-query-gateway", F, {"dns-query-public-next"}),
                         step(Pub, "dns-answer-internet-next", F, {"dns-answer-client"}),
                         step(Pub, "dns-answer-internet", F, {"dns-answer-direct-client"})}
        << client;
    QTest::newRow("DNS answer nobody asked for goes to the host")
        << QVector<Step>{step(Pub, "dns-answer-internet", P)} << none;
    QTest::newRow("UDP checksum 0 stays 0")
        << QVector<Step>{step(Priv, "udp-nosum-client", F, {"udp-nosum-public"})} << client;
    QTest::newRow("UDP reply translated back")
        << QVector<Step>{step(Priv, "udp-client", F, {"udp-public"}),
                         step(Pub, "udp-reply-internet", F, {"udp-reply-client"})}
        << client;
    QTest::newRow("bad UDP checksum dropped")
        << QVector<Step>{step(Priv, "udp-bad-checksum", D)} << client;
    QTest::newRow("UDP shorter than its header dropped")
        << QVector<Step>{step(Priv, "udp-short", D)} << client;

    // ICMP errors about translated flows
    QTest::newRow("port unreachable from the Internet translated back")
        << QVector<Step>{step(Priv, "udp-client", F, {"udp-public"}),
                         step(Pub, "udp-unreachable-internet", F, {"udp-unreachable-client"})}
        << client;
    QTest::newRow("port unreachable about no mapping goes to the host")
        << QVector<Step>{step(Pub, "udp-unreachable-internet", P)} << none;
    QTest::newRow("port unreachable from the client translated out")
        << QVector<Step>{step(Priv, "udp-client", F, {"udp-public"}),
                         step(Pub, "udp-reply-internet", F, {"udp-reply-client"}),
                         step(Priv, "udp-unreachable-from-client", F,
                              {"udp-unreachable-from-client-public"})}
        << client;
    QTest::newRow("truncated quote dropped")
        << QVector<Step>{step(Priv, "udp-client", F, {"udp-public"}),
                         step(Pub, "icmp-quote-truncated", D)}
        << client;
    QTest::newRow("wrong quoted header checksum dropped")
        << QVector<Step>{step(Priv, "udp-client", F, {"udp-public"}),
                         step(Pub, "icmp-quote-bad-checksum", D)}
        << client;

    // ICMP echo
    QTest::newRow("ping out, echo reply in")
        << QVector<Step>{step(Priv, "ping-client", F, {"ping-public"}),
                         step(Pub, "pong-internet", F, {"pong-client"})}
        << client;
    QTest::newRow("second client's identifier moved, time exceeded brings it back")
        << QVector<Step>{step(Priv, "ping-client", F, {"ping-public"}),
                         step(Priv, "ping-second-client", F, {"ping-second-public"}),
                         step(Pub, "ping-exceeded-internet", F, {"ping-exceeded-client"})}
        << QStringList{QString::fromLatin1(kClient), QString::fromLatin1(kSecondClient)};
    QTest::newRow("echo reply without mapping goes to the host")
        << QVector<Step>{step(Pub, "pong-internet", P)} << none;
    QTest::newRow("bad ICMP checksum dropped")
        << QVector<Step>{step(Priv, "ping-bad-checksum", D)} << client;
    QTest::newRow("ICMP shorter than its header dropped")
        << QVector<Step>{step(Priv, "icmp-short", D)} << client;

    // Time to live
    QTest::newRow("TTL 1 for the Internet answered by the gateway")
        << QVector<Step>{step(Priv, "ttl1-client", R, {"ttl1-exceeded"})} << client;
    QTest::newRow("TTL 0 of a short packet answered quoting all of it")
        << QVector<Step>{step(Priv, "ttl0-short-client", R, {"ttl0-short-exceeded"})} << client;
    QTest::newRow("TTL 1 echo request answered quoting all of it")
        << QVector<Step>{step(Priv, "ttl1-ping-client", R, {"ttl1-ping-exceeded"})} << client;
    QTest::newRow("TTL 1 port unreachable dropped unanswered")
        << QVector<Step>{step(Priv, "ttl1-unreachable-client", D)} << client;
    QTest::newRow("TTL 1 time exceeded dropped unanswered")
        << QVector<Step>{step(Priv, "ttl1-exceeded-from-client", D)} << client;
    QTest::newRow("TTL 1 redirect dropped unanswered")
        << QVector<Step>{step(Priv, "ttl1-redirect-client", D)} << client;
    QTest::newRow("TTL 1 parameter problem dropped unanswered")
        << QVector<Step>{step(Priv, "ttl1-problem-client", D)} << client;
    QTest::newRow("TTL 1 for the gateway itself not answered")
        << QVector<Step>{step(Priv, "ttl1-gateway", P)} << client;

    // Host frames, group frames, other protocols
    QTest::newRow("host frame from 192.168.137.1 dropped")
        << QVector<Step>{step(Host, "host-hosted-source", D)} << none;
    QTest::newRow("host frame from the gateway address goes out")
        << QVector<Step>{step(Host, "host-gateway-source", P)} << none;
    QTest::newRow("DHCP broadcast untouched")
        << QVector<Step>{step(Priv, "dhcp-discover", U)} << none;
    QTest::newRow("ARP untouched on both sides")
        << QVector<Step>{step(Priv, "arp-request", U), step(Pub, "arp-request", U)} << none;
    QTest::newRow("IPv6 untouched")
        << QVector<Step>{step(Priv, "ipv6-unicast", U)} << none;
    QTest::newRow("other IP protocol passed with TTL lowered")
        << QVector<Step>{step(Priv, "gre-client", P, {"gre-client-hop"})} << client;

    // Truncated frames
    QTest::newRow("runt frame dropped") << QVector<Step>{step(Priv, "runt", D)} << none;
    QTest::newRow("cut IPv4 header dropped")
        << QVector<Step>{step(Priv, "ipv4-cut-header", D), step(Pub, "ipv4-cut-header", D)}
        << none;
    QTest::newRow("IPv4 payload shorter than its total length dropped")
        << QVector<Step>{step(Priv, "ipv4-cut-payload", D), step(Pub, "ipv4-cut-payload", D)}
        << none;

    // Fragmentation
    QTest::newRow("translated packet above the public MTU leaves in fragments")
        << QVector<Step>{step(Priv, "udp-1500-client", F,
                              {"udp-1500-public-0", "udp-1500-public-1"})}
        << client;
    QTest::newRow("client fragments reassembled and translated whole")
        << QVector<Step>{step(Priv, "udp-frag-client-0", D),
                         step(Priv, "udp-frag-client-1", F, {"udp-frag-public"})}
        << client;
    QTest::newRow("client fragments in reverse order")
        << QVector<Step>{step(Priv, "udp-frag-client-1", D),
                         step(Priv, "udp-frag-client-0", F, {"udp-frag-public"})}
        << client;
}

// Each step's sends are compared byte for byte with the golden frames; afterwards the user
// table must hold exactly the expected users, learned from traffic, and every forwarded
// frame (and nothing else) must be counted for its user with its length as read.
void TestRouterForwarder::decisions()
{
    QFETCH(QVector<Step>, steps);
    QFETCH(QStringList, users);

    RouterBench bench;
    QMap<quint32, Counts> expectedCounts;
    Counts expectedTotals;
    for (const Step &s : steps) {
        const QByteArray input = routerFrame(s.input);
        const bool poison = s.outcome == Outcome::Drop || s.outcome == Outcome::Untouched;
        const QVector<SentFrames> sends = bench.run(s.side, input, poison);
        const QString where = s.input + QLatin1String(": ");

        if (s.outcome == Outcome::Drop) {
            QVERIFY2(sends.isEmpty(), qPrintable(where + describe(sends.value(0))));
            continue;
        }
        QCOMPARE(sends.size(), 1);
        const SentFrames &sent = sends.first();
        QStringList expected = s.expected;
        if (expected.isEmpty())
            expected << s.input;
        QVector<QByteArray> golden;
        for (const QString &name : expected)
            golden.append(routerFrame(name));

        switch (s.outcome) {
        case Outcome::Forward:
            QCOMPARE(sent.route, SendRoute::Wire);
            QCOMPARE(sent.override, s.side == Pub ? RouterBench::kPrivateHandle
                                                  : RouterBench::kPublicHandle);
            QVERIFY(sent.packetGiven);
            break;
        case Outcome::Reply:
            QCOMPARE(sent.route, SendRoute::Wire);
            QCOMPARE(sent.override, AdapterHandle(0));
            break;
        case Outcome::Pass:
        case Outcome::Untouched:
            QCOMPARE(sent.route, SendRoute::Same);
            QCOMPARE(sent.override, AdapterHandle(0));
            QCOMPARE(sent.direction, quint32(s.side == Host ? PacketFromStack : PacketFromWire));
            QCOMPARE(sent.packetGiven, s.outcome == Outcome::Pass);
            break;
        case Outcome::Drop:
            break;
        }
        QCOMPARE(sent.frames.size(), golden.size());
        for (int i = 0; i < golden.size(); ++i) {
            QVERIFY2(sent.frames.at(i) == golden.at(i),
                     qPrintable(where + QLatin1String("\n got  ") + sent.frames.at(i).toHex(' ')
                                + QLatin1String("\n want ") + golden.at(i).toHex(' ')));
            if (s.outcome != Outcome::Untouched) // what the engine wrote carries right sums
                QVERIFY2(checksumsHold(sent.frames.at(i)), qPrintable(where + expected.at(i)));
        }

        if (s.outcome == Outcome::Forward) {
            // The user is the client that sent it, or the client it goes to.
            const quint32 user = s.side == Pub ? ipv4Field(golden.first(), 14 + 16)
                                               : ipv4Field(input, 14 + 12);
            Counts &counts = expectedCounts[user];
            if (s.side == Pub) {
                counts.receivedBytes += quint32(input.size());
                counts.receivedPackets += 1;
            } else {
                counts.sentBytes += quint32(input.size());
                counts.sentPackets += 1;
            }
        }
    }

    const QHash<quint32, UserRecord> table = bench.users().users();
    QStringList learned;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        learned << QHostAddress(qFromBigEndian(it.key())).toString();
        QCOMPARE(it->origin, quint32(UserFromTraffic));
        const Counts counts = expectedCounts.value(it.key());
        QCOMPARE(it->bytesSent, counts.sentBytes);
        QCOMPARE(it->packetsSent, counts.sentPackets);
        QCOMPARE(it->bytesReceived, counts.receivedBytes);
        QCOMPARE(it->packetsReceived, counts.receivedPackets);
        expectedTotals.sentBytes += counts.sentBytes;
        expectedTotals.sentPackets += counts.sentPackets;
        expectedTotals.receivedBytes += counts.receivedBytes;
        expectedTotals.receivedPackets += counts.receivedPackets;
    }
    learned.sort();
    users.sort();
    QCOMPARE(learned, users);
    const UpTime::Totals totals = bench.clock().snapshot();
    QCOMPARE(totals.sentBytes, expectedTotals.sentBytes);
    QCOMPARE(totals.sentPackets, expectedTotals.sentPackets);
    QCOMPARE(totals.receivedBytes, expectedTotals.receivedBytes);
    QCOMPARE(totals.receivedPackets, expectedTotals.receivedPackets);
}

void TestRouterForwarder::lyingLengthWordDropped_data()
{
    QTest::addColumn<quint32>("length");
    QTest::newRow("zero") << 0u;
    QTest::newRow("13 bytes") << 13u;
    QTest::newRow("one byte beyond the buffer") << quint32(kMaxFrameSize + 1);
    QTest::newRow("far beyond the buffer") << 0xFFFFFFFFu;
}

// A record whose length word cannot be true is never read, on either engine.
void TestRouterForwarder::lyingLengthWordDropped()
{
    QFETCH(quint32, length);
    RouterBench bench;
    const QByteArray syn = routerFrame(QStringLiteral("tcp-syn-client"));
    for (RouterBench::Side side : {Priv, Pub, Host}) {
        bench.run(side, syn); // leave a valid frame in the buffer
        QVERIFY(bench.runBuffer(side, length, true).isEmpty());
    }
}

// Until the upstream gateway's MAC is known nothing can be forwarded out: client traffic
// goes to the host's stack as the description's failed look-ups do, and creates no mapping.
void TestRouterForwarder::unknownGatewayLeavesClientTrafficToHost()
{
    RouterBench bench(false);
    for (const char *name : {"tcp-syn-client", "dns-query-gateway", "ping-client"}) {
        const QVector<SentFrames> sends = bench.run(Priv, routerFrame(QString::fromLatin1(name)));
        QCOMPARE(sends.size(), 1);
        QCOMPARE(sends.first().route, SendRoute::Same);
        QCOMPARE(sends.first().override, AdapterHandle(0));
    }
    QCOMPARE(bench.translator().tcpTable()->size(), 0);
    QCOMPARE(bench.translator().udpTable()->size(), 0);
    QCOMPARE(bench.translator().icmpTable()->size(), 0);
    QCOMPARE(bench.users().users().size(), 1); // the client is still learned
}

// The user is learned with the MAC of its first frame, and its later replies go to that MAC;
// a frame that claims the gateway's own address as its source makes no user.
void TestRouterForwarder::usersKeepTheirMac()
{
    RouterBench bench;
    bench.run(Priv, routerFrame(QStringLiteral("tcp-syn-client")));
    QCOMPARE(bench.users().macOf(rawAddress(kClient)), macBytes(macAddress(0x00, 0x0a)));

    // host-gateway-source read from the wire: a client pretending to be the gateway.
    const QVector<SentFrames> sends = bench.run(Priv, routerFrame(QStringLiteral("host-gateway-source")));
    QCOMPARE(sends.size(), 1);
    QVERIFY(bench.users().macOf(rawAddress("192.168.51.1")).isEmpty());
    QCOMPARE(bench.users().users().size(), 1);
}

QTEST_GUILESS_MAIN(TestRouterForwarder)
#include "tst_routerforwarder.moc"
