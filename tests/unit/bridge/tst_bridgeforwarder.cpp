// SPDX-License-Identifier: GPL-3.0-or-later
// Bridge-mode forwarding: golden frames through both engines with real user and proxy tables.
#include "bridgebench.h"
#include "heapcounter.h"

#include "engine/userrecord.h"

#include <QtTest>
#include <atomic>
#include <thread>

namespace {

const int Wired = 1;
const int Wireless = 2;
const BridgeBench::Engine Hot = BridgeBench::Hotspot;
const BridgeBench::Engine Net = BridgeBench::Internet;

const char *kClient = "198.51.100.50";
const char *kClientMac = "02:00:00:00:00:0a";
const char *kOtherMac = "02:00:00:00:00:0b";

struct Step {
    BridgeBench::Engine engine = BridgeBench::Hotspot;
    bool fromHost = false;
    QString input;
    QStringList expected; // "where=golden frame", in send order; empty: dropped
};

Step wire(BridgeBench::Engine engine, const char *input, QStringList expected)
{
    return Step{engine, false, QString::fromLatin1(input), expected};
}

Step host(BridgeBench::Engine engine, const char *input, QStringList expected)
{
    return Step{engine, true, QString::fromLatin1(input), expected};
}

// A group frame read on the hotspot side: up to the hotspot stack as read, and the copy
// (named `copy`) to the Internet-side stack and wire.
QStringList fromHotspotToAll(const QString &read, const QString &copy)
{
    return {QStringLiteral("hotspot-stack=") + read, QStringLiteral("internet-stack=") + copy,
            QStringLiteral("internet-wire=") + copy};
}

QStringList fromInternetToAll(const QString &read, const QString &copy)
{
    return {QStringLiteral("internet-stack=") + read, QStringLiteral("hotspot-stack=") + copy,
            QStringLiteral("hotspot-wire=") + copy};
}

// "address/origin/host name" per user, sorted.
QStringList describeUsers(const ARPTable &users)
{
    QStringList lines;
    const QHash<quint32, UserRecord> all = users.users();
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        lines << QStringLiteral("%1/%2/%3")
                     .arg(addressText(it.key()))
                     .arg(it->origin)
                     .arg(QString::fromUtf8(it->hostName));
    lines.sort();
    return lines;
}

// "address=mac" per proxy entry, sorted.
QStringList describeProxy(const ARPProxy &proxy)
{
    QStringList lines;
    const QHash<quint32, QByteArray> all = proxy.table();
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        lines << addressText(it.key()) + QLatin1Char('=')
                     + QString::fromLatin1(it->toHex(':'));
    lines.sort();
    return lines;
}

} // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(QVector<Step>)

class TestBridgeForwarder : public QObject
{
    Q_OBJECT

private slots:
    void decisions_data();
    void decisions();
    void lyingLengthWordDropped_data();
    void lyingLengthWordDropped();
    void unknownGatewayLeavesDestination();
    void countsUserTraffic();
    void proxyFirstEntryWinsAcrossThreads();
    void noAllocationPerFrame();
};

void TestBridgeForwarder::decisions_data()
{
    QTest::addColumn<int>("hotspotKind");
    QTest::addColumn<int>("internetKind");
    QTest::addColumn<bool>("seedProxy"); // the proxy table holds 02:00:00:00:00:0b for the client
    QTest::addColumn<QVector<Step>>("steps");
    QTest::addColumn<QStringList>("users"); // after the last step
    QTest::addColumn<QStringList>("proxy");

    const QString client = QString::fromLatin1(kClient);
    const QStringList noUsers, noProxy;
    const QStringList clientFromTraffic{client + QStringLiteral("/1/")};
    const QStringList clientProxied{client + QStringLiteral("=02:00:00:00:00:0a")};
    const QStringList otherProxied{client + QStringLiteral("=02:00:00:00:00:0b")};
    const QStringList gatewayProxied{QStringLiteral("198.51.100.1=02:00:00:00:02:fe")};

    // ARP and the proxy table
    QTest::newRow("ARP request leaves a wireless Internet side under the adapter MAC")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "arp-request-client",
                              fromHotspotToAll("arp-request-client", "arp-request-client-hidden"))}
        << clientFromTraffic << clientProxied;
    QTest::newRow("the gateway's reply comes back with the client's real MAC")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "arp-request-client",
                              fromHotspotToAll("arp-request-client", "arp-request-client-hidden")),
                         wire(Net, "arp-reply-gateway", {"hotspot-wire=arp-reply-gateway-client"})}
        << clientFromTraffic << clientProxied;
    QTest::newRow("wireless on both sides: the reply also carries the hotspot adapter MAC")
        << Wireless << Wireless << false
        << QVector<Step>{wire(Hot, "arp-request-client",
                              fromHotspotToAll("arp-request-client", "arp-request-client-hidden")),
                         wire(Net, "arp-reply-gateway", {"hotspot-wire=arp-reply-gateway-hidden"})}
        << clientFromTraffic << (QStringList{gatewayProxied} + clientProxied);
    QTest::newRow("an existing proxy entry is never overwritten")
        << Wired << Wireless << true
        << QVector<Step>{wire(Hot, "arp-request-client",
                              fromHotspotToAll("arp-request-client", "arp-request-client-hidden")),
                         wire(Net, "arp-reply-gateway", {"hotspot-wire=arp-reply-gateway-other"})}
        << clientFromTraffic << otherProxied;
    QTest::newRow("wired sides: ARP crosses unchanged, nothing proxied")
        << Wired << Wired << false
        << QVector<Step>{wire(Hot, "arp-request-client",
                              fromHotspotToAll("arp-request-client", "arp-request-client")),
                         wire(Net, "arp-reply-gateway", {"internet-stack=arp-reply-gateway"})}
        << clientFromTraffic << noProxy;
    QTest::newRow("a probe from 0.0.0.0 is hidden but neither proxied nor a user")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "arp-probe-client",
                              fromHotspotToAll("arp-probe-client", "arp-probe-client-hidden"))}
        << noUsers << noProxy;
    QTest::newRow("host's unicast ARP on the hotspot adapter dropped")
        << Wired << Wired << false << QVector<Step>{host(Hot, "arp-reply-host", {})} << noUsers
        << noProxy;
    QTest::newRow("host's ARP broadcast on the hotspot adapter crosses without table work")
        << Wired << Wired << false
        << QVector<Step>{host(Hot, "arp-request-host",
                              {"hotspot-wire=arp-request-host", "internet-stack=arp-request-host",
                               "internet-wire=arp-request-host"})}
        << noUsers << noProxy;
    QTest::newRow("ARP of other address sizes crosses untouched")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "arp-long-addresses",
                              fromHotspotToAll("arp-long-addresses", "arp-long-addresses"))}
        << noUsers << noProxy;
    QTest::newRow("ARP body cut short dropped")
        << Wired << Wireless << false << QVector<Step>{wire(Hot, "arp-short", {})} << noUsers
        << noProxy;

    // IPv4 unicast
    QTest::newRow("client's ping crosses a wired bridge unchanged")
        << Wired << Wired << false
        << QVector<Step>{wire(Hot, "ping-client", {"internet-wire=ping-client"})}
        << clientFromTraffic << noProxy;
    QTest::newRow("client's ping leaves a wireless Internet side under the adapter MAC")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "ping-client", {"internet-wire=ping-client-hidden"})}
        << clientFromTraffic << noProxy;
    QTest::newRow("ping to the wireless hotspot's MAC goes to the gateway MAC")
        << Wireless << Wired << false
        << QVector<Step>{wire(Hot, "ping-client-hotspot", {"internet-wire=ping-client"})}
        << clientFromTraffic << noProxy;
    QTest::newRow("answer for a client's MAC crosses a wired bridge unchanged")
        << Wired << Wired << false
        << QVector<Step>{wire(Net, "pong-internet", {"hotspot-wire=pong-internet"})} << noUsers
        << noProxy;
    QTest::newRow("answer towards a wireless hotspot under the adapter MAC")
        << Wireless << Wired << false
        << QVector<Step>{wire(Net, "pong-internet", {"hotspot-wire=pong-client-hotspot"})}
        << noUsers << noProxy;
    QTest::newRow("answer on a wireless Internet side turned to the proxied client")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "arp-request-client",
                              fromHotspotToAll("arp-request-client", "arp-request-client-hidden")),
                         wire(Net, "pong-internet-hidden", {"hotspot-wire=pong-internet"})}
        << clientFromTraffic << clientProxied;
    QTest::newRow("frame for the own adapter goes up as read")
        << Wired << Wired << false
        << QVector<Step>{wire(Hot, "ping-host-hotspot", {"hotspot-stack=ping-host-hotspot"})}
        << clientFromTraffic << noProxy;
    QTest::newRow("frame for the other adapter goes up there, not hidden")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "ping-host-public", {"internet-stack=ping-host-public"})}
        << clientFromTraffic << noProxy;
    QTest::newRow("IPv4 header cut short dropped")
        << Wired << Wired << false << QVector<Step>{wire(Hot, "ipv4-cut-header", {})} << noUsers
        << noProxy;
    QTest::newRow("IPv4 longer than its frame dropped")
        << Wired << Wired << false << QVector<Step>{wire(Net, "ipv4-cut-payload", {})} << noUsers
        << noProxy;

    // the host's own IPv4 frames
    QTest::newRow("host's IPv4 on the hotspot adapter dropped")
        << Wired << Wired << false << QVector<Step>{host(Hot, "host-to-client", {})} << noUsers
        << noProxy;
    QTest::newRow("host's IPv4 on the Internet side goes out there")
        << Wired << Wired << false
        << QVector<Step>{host(Net, "host-to-server", {"internet-wire=host-to-server"})} << noUsers
        << noProxy;
    QTest::newRow("host's IPv4 for a user goes out on the hotspot adapter")
        << Wired << Wired << false
        << QVector<Step>{wire(Hot, "ping-client", {"internet-wire=ping-client"}),
                         host(Net, "host-to-client-public",
                              {"hotspot-wire=host-to-client-public"})}
        << clientFromTraffic << noProxy;

    // broadcasts
    QTest::newRow("client's broadcast reaches both stacks and the Internet-side wire")
        << Wired << Wired << false
        << QVector<Step>{wire(Hot, "udp-broadcast-client",
                              fromHotspotToAll("udp-broadcast-client", "udp-broadcast-client"))}
        << clientFromTraffic << noProxy;
    QTest::newRow("client's broadcast towards a wireless Internet side")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "udp-broadcast-client",
                              fromHotspotToAll("udp-broadcast-client",
                                               "udp-broadcast-client-hidden"))}
        << clientFromTraffic << noProxy;
    QTest::newRow("broadcast from the Internet side reaches both stacks and the hotspot")
        << Wired << Wired << false
        << QVector<Step>{wire(Net, "dhcp-offer", fromInternetToAll("dhcp-offer", "dhcp-offer"))}
        << noUsers << noProxy;

    // DHCP: the broadcast flag
    QTest::newRow("discover leaves a wireless Internet side with the broadcast flag")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "dhcp-discover",
                              fromHotspotToAll("dhcp-discover", "dhcp-discover-broadcast"))}
        << noUsers << noProxy;
    QTest::newRow("discover leaves a wired Internet side unchanged")
        << Wired << Wired << false
        << QVector<Step>{wire(Hot, "dhcp-discover",
                              fromHotspotToAll("dhcp-discover", "dhcp-discover"))}
        << noUsers << noProxy;
    QTest::newRow("discover from a wireless hotspot to a wired side unchanged")
        << Wireless << Wired << false
        << QVector<Step>{wire(Hot, "dhcp-discover",
                              fromHotspotToAll("dhcp-discover", "dhcp-discover"))}
        << noUsers << noProxy;
    QTest::newRow("discover without UDP checksum keeps it at 0")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "dhcp-discover-nosum",
                              fromHotspotToAll("dhcp-discover-nosum",
                                               "dhcp-discover-nosum-broadcast"))}
        << noUsers << noProxy;
    QTest::newRow("flags other than 0 are kept")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "dhcp-discover-flagged",
                              fromHotspotToAll("dhcp-discover-flagged",
                                               "dhcp-discover-flagged-hidden"))}
        << noUsers << noProxy;
    QTest::newRow("wrong UDP checksum: no flag, no fresh checksum")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "dhcp-discover-bad-udp",
                              fromHotspotToAll("dhcp-discover-bad-udp",
                                               "dhcp-discover-bad-udp-hidden"))}
        << noUsers << noProxy;
    QTest::newRow("wrong IP header checksum: no flag, no fresh checksum")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "dhcp-discover-bad-ip",
                              fromHotspotToAll("dhcp-discover-bad-ip",
                                               "dhcp-discover-bad-ip-hidden"))}
        << noUsers << noProxy;
    QTest::newRow("message cut inside the fixed part crosses untouched")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "dhcp-short", fromHotspotToAll("dhcp-short", "dhcp-short-hidden"))}
        << noUsers << noProxy;
    QTest::newRow("hlen 255 and an option running past the end: flag only")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "dhcp-overrun",
                              fromHotspotToAll("dhcp-overrun", "dhcp-overrun-broadcast"))}
        << noUsers << noProxy;
    QTest::newRow("server messages towards a wireless hotspot keep their flags")
        << Wireless << Wired << false
        << QVector<Step>{wire(Net, "dhcp-ack", fromInternetToAll("dhcp-ack", "dhcp-ack-hotspot"))}
        << QStringList{client + QStringLiteral("/0/")} << noProxy;

    // DHCP: the user table
    QTest::newRow("request with a host name, then the ACK: a user with its name")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "dhcp-request",
                              fromHotspotToAll("dhcp-request", "dhcp-request-broadcast")),
                         wire(Net, "dhcp-ack", fromInternetToAll("dhcp-ack", "dhcp-ack"))}
        << QStringList{client + QStringLiteral("/0/pixel-7")} << noProxy;
    QTest::newRow("ACK after traffic: the user now learned from DHCP")
        << Wired << Wired << false
        << QVector<Step>{wire(Hot, "ping-client", {"internet-wire=ping-client"}),
                         wire(Net, "dhcp-ack", fromInternetToAll("dhcp-ack", "dhcp-ack"))}
        << QStringList{client + QStringLiteral("/0/")} << noProxy;
    QTest::newRow("ACK with a wrong UDP checksum adds nobody")
        << Wired << Wired << false
        << QVector<Step>{wire(Net, "dhcp-ack-bad-udp",
                              fromInternetToAll("dhcp-ack-bad-udp", "dhcp-ack-bad-udp"))}
        << noUsers << noProxy;
    QTest::newRow("ACK to an INFORM (no address) adds nobody")
        << Wired << Wired << false
        << QVector<Step>{wire(Net, "dhcp-inform-ack",
                              fromInternetToAll("dhcp-inform-ack", "dhcp-inform-ack"))}
        << noUsers << noProxy;
    QTest::newRow("an OFFER adds nobody")
        << Wired << Wired << false
        << QVector<Step>{wire(Net, "dhcp-offer", fromInternetToAll("dhcp-offer", "dhcp-offer"))}
        << noUsers << noProxy;
    QTest::newRow("name lost in a cut option is not applied")
        << Wired << Wired << false
        << QVector<Step>{wire(Hot, "dhcp-overrun", fromHotspotToAll("dhcp-overrun", "dhcp-overrun")),
                         wire(Net, "dhcp-ack", fromInternetToAll("dhcp-ack", "dhcp-ack"))}
        << QStringList{client + QStringLiteral("/0/")} << noProxy;

    // other EtherTypes
    QTest::newRow("IPv6 unicast crosses unchanged")
        << Wired << Wired << false
        << QVector<Step>{wire(Net, "ipv6-internet", {"hotspot-wire=ipv6-internet"})} << noUsers
        << noProxy;
    QTest::newRow("VLAN-tagged frame crosses unchanged, also towards a wireless side")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "vlan-client", {"internet-wire=vlan-client"})} << noUsers
        << noProxy;
    QTest::newRow("LLDP multicast reaches both stacks and the other wire unchanged")
        << Wired << Wireless << false
        << QVector<Step>{wire(Hot, "lldp-client", fromHotspotToAll("lldp-client", "lldp-client"))}
        << noUsers << noProxy;
}

void TestBridgeForwarder::decisions()
{
    QFETCH(int, hotspotKind);
    QFETCH(int, internetKind);
    QFETCH(bool, seedProxy);
    QFETCH(QVector<Step>, steps);
    QFETCH(QStringList, users);
    QFETCH(QStringList, proxy);

    BridgeBench bench(hotspotKind, internetKind);
    if (seedProxy)
        bench.proxy().insert(rawAddress(kClient), macBytes(kOtherMac));
    for (int i = 0; i < steps.size(); ++i) {
        const Step &step = steps[i];
        const QVector<SentFrame> sent = bench.run(step.engine, step.fromHost, bridgeFrame(step.input));
        QStringList where;
        for (const SentFrame &frame : sent)
            where << frame.where;
        QStringList expectedWhere;
        for (const QString &expected : step.expected)
            expectedWhere << expected.section(QLatin1Char('='), 0, 0);
        QVERIFY2(where == expectedWhere,
                 qPrintable(QStringLiteral("step %1 (%2): sent to %3")
                                .arg(i).arg(step.input, where.join(QLatin1Char(' ')))));
        for (int k = 0; k < sent.size(); ++k) {
            const QString golden = step.expected[k].section(QLatin1Char('='), 1);
            QVERIFY2(!sent[k].packetGiven, "bridge sends keep the frame as it is");
            QVERIFY2(sent[k].frame == bridgeFrame(golden),
                     qPrintable(QStringLiteral("step %1: %2 is not %3:\n%4")
                                    .arg(i).arg(sent[k].where, golden,
                                                QString::fromLatin1(sent[k].frame.toHex(' ')))));
        }
    }
    QCOMPARE(describeUsers(bench.users()), users);
    QCOMPARE(describeProxy(bench.proxy()), proxy);
}

void TestBridgeForwarder::lyingLengthWordDropped_data()
{
    QTest::addColumn<int>("engine");
    QTest::addColumn<quint32>("length");

    for (const quint32 length : {0u, 1u, 13u, 1515u, 2000u, 0xFFFFFFFFu}) {
        QTest::addRow("hotspot engine, length %u", length) << int(Hot) << length;
        QTest::addRow("internet engine, length %u", length) << int(Net) << length;
    }
}

// The buffer holds a full broadcast discover; the length word is below the Ethernet header
// or beyond the 1514-byte buffer. Nothing is read, copied or sent.
void TestBridgeForwarder::lyingLengthWordDropped()
{
    QFETCH(int, engine);
    QFETCH(quint32, length);

    BridgeBench bench(Wireless, Wireless);
    const BridgeBench::Engine side = BridgeBench::Engine(engine);
    bench.run(side, false, bridgeFrame(QStringLiteral("dhcp-discover")));
    QCOMPARE(bench.runBuffer(side, false, length).size(), 0);
    QCOMPARE(bench.runBuffer(side, true, length).size(), 0);
}

// Without the upstream gateway's MAC a frame for an unknown destination on a wireless
// hotspot keeps its destination (the hotspot adapter) and goes up to the host's stack.
void TestBridgeForwarder::unknownGatewayLeavesDestination()
{
    BridgeBench bench(Wireless, Wired, false);
    const QVector<SentFrame> sent =
        bench.run(Hot, false, bridgeFrame(QStringLiteral("ping-client-hotspot")));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].where, QStringLiteral("hotspot-stack"));
    QCOMPARE(sent[0].frame, bridgeFrame(QStringLiteral("ping-client-hotspot")));
}

// The hotspot engine counts what a user sends, the Internet engine what it receives; the
// frame length is the length word as read (padding included).
void TestBridgeForwarder::countsUserTraffic()
{
    BridgeBench bench(Wired, Wired);
    const QByteArray ping = bridgeFrame(QStringLiteral("ping-client"));
    const QByteArray pong = bridgeFrame(QStringLiteral("pong-internet"));
    const QByteArray request = bridgeFrame(QStringLiteral("arp-request-client"));

    bench.run(Hot, false, ping);                // adds the client, counts nothing
    bench.run(Hot, false, ping);                // sent
    bench.run(Hot, false, request);             // sent
    bench.run(Net, false, pong);                // received
    bench.run(Net, false, bridgeFrame(QStringLiteral("arp-reply-gateway"))); // received
    bench.run(Hot, true, bridgeFrame(QStringLiteral("host-to-client")));    // dropped, not counted

    const UserRecord user = bench.users().users().value(rawAddress(kClient));
    QCOMPARE(user.mac, macBytes(kClientMac));
    QCOMPARE(user.packetsSent, 2u);
    QCOMPARE(user.bytesSent, quint32(ping.size() + request.size()));
    QCOMPARE(user.packetsReceived, 2u);
    QCOMPARE(user.bytesReceived, quint32(pong.size() + 60));
    const UpTime::Totals totals = bench.clock().snapshot();
    QCOMPARE(totals.sentPackets, 2u);
    QCOMPARE(totals.receivedPackets, 2u);
}

// Both engines relay ARP for the same addresses under different MACs at once: every address
// keeps the one MAC that came first, and exactly one insert reports storing it.
void TestBridgeForwarder::proxyFirstEntryWinsAcrossThreads()
{
    ARPProxy proxy;
    constexpr int kAddresses = 2000;
    std::atomic<int> stored{0};
    auto relay = [&](char last) {
        for (int i = 0; i < kAddresses; ++i)
            if (proxy.insertIfAbsent(quint32(i + 1), QByteArray("\x02\0\0\0\0", 5) + last))
                stored.fetch_add(1);
    };
    std::thread first(relay, '\x01');
    std::thread second(relay, '\x02');
    first.join();
    second.join();
    QCOMPARE(stored.load(), kAddresses);
    const QHash<quint32, QByteArray> table = proxy.table();
    QCOMPARE(table.size(), kAddresses);
    QVERIFY(!proxy.insertIfAbsent(1, QByteArray("\x02\0\0\0\0\x03", 6)));
    QCOMPARE(proxy.macOf(1), table.value(1));
    QVERIFY(proxy.macOf(kAddresses + 1).isEmpty());
}

// Once the tables know the client, the gateway and the proxied address, relaying its frames
// touches the heap no more.
void TestBridgeForwarder::noAllocationPerFrame()
{
    BridgeBench bench(Wireless, Wireless);
    const QByteArray frames[] = {
        bridgeFrame(QStringLiteral("ping-client-hotspot")),
        bridgeFrame(QStringLiteral("pong-internet-hidden")),
        bridgeFrame(QStringLiteral("arp-request-client")),
        bridgeFrame(QStringLiteral("arp-reply-gateway")),
        bridgeFrame(QStringLiteral("ipv6-internet")),
    };
    const BridgeBench::Engine engines[] = {Hot, Net, Hot, Net, Net};
    for (int i = 0; i < 5; ++i)
        bench.run(engines[i], false, frames[i]);
    QCOMPARE(bench.users().macOf(rawAddress(kClient)), macBytes(kClientMac));
    QCOMPARE(bench.proxy().macOf(rawAddress(kClient)), macBytes(kClientMac));

    bench.sender().setRecording(false);
    const int sendsBefore = bench.sender().count();
    const long before = HeapCounter::count();
    for (int round = 0; round < 10; ++round)
        for (int i = 0; i < 5; ++i)
            bench.run(engines[i], false, frames[i], false);
    const long allocations = HeapCounter::count() - before;
    bench.sender().setRecording(true);
    QCOMPARE(allocations, 0L);
    QVERIFY(bench.sender().count() > sendsBefore);
}

QTEST_GUILESS_MAIN(TestBridgeForwarder)
#include "tst_bridgeforwarder.moc"
