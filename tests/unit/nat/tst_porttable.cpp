// SPDX-License-Identifier: GPL-3.0-or-later
// The port table: port choice, the TCP and UDP state machines, static and wildcard mappings.
#include "natflows.h"

#include <QtTest>

#include <atomic>
#include <thread>

using namespace natflows;

namespace {

// An existing or new outbound flow: client host, client port, remote host (port 443).
struct Endpoint {
    quint8 clientHost = 10;
    quint16 clientPort = 0;
    quint8 remoteHost = 1;
};

} // namespace

Q_DECLARE_METATYPE(Endpoint)
Q_DECLARE_METATYPE(QVector<Endpoint>)

class TestPortTable : public QObject
{
    Q_OBJECT

private slots:
    void externalPortChoice_data();
    void externalPortChoice();
    void aliasedRemotesNeverSharePorts_data();
    void aliasedRemotesNeverSharePorts();
    void exhaustionAndRelease();
    void creationRules_data();
    void creationRules();
    void stateTransitions_data();
    void stateTransitions();
    void inboundWithoutMatchFails();
    void countersPerDirection();
    void staticMappingAnyRemote();
    void staticMappingNamedRemote();
    void lastWildcardWins_data();
    void lastWildcardWins();
    void staticMappingAddRemove();
    void wildcardDoesNotOverwriteExistingFlow();
    void twoEngineThreadsAndOwner();
};

void TestPortTable::externalPortChoice_data()
{
    QTest::addColumn<QVector<Endpoint>>("existing");
    QTest::addColumn<Endpoint>("added");
    QTest::addColumn<int>("expected");

    QTest::newRow("own port when free") << QVector<Endpoint>{} << Endpoint{10, 51000, 1} << 51000;
    QTest::newRow("10000 is its own") << QVector<Endpoint>{} << Endpoint{10, 10000, 1} << 10000;
    QTest::newRow("low port starts at 10000") << QVector<Endpoint>{} << Endpoint{10, 5000, 1} << 10000;
    QTest::newRow("9999 starts at 10000") << QVector<Endpoint>{} << Endpoint{10, 9999, 1} << 10000;
    QTest::newRow("second client, same remote")
        << QVector<Endpoint>{{10, 5000, 1}} << Endpoint{11, 5000, 1} << 10001;
    QTest::newRow("third client, other remote shares 10000")
        << QVector<Endpoint>{{10, 5000, 1}, {11, 5000, 1}} << Endpoint{12, 5000, 2} << 10000;
    QTest::newRow("own port taken for that remote")
        << QVector<Endpoint>{{10, 51000, 1}} << Endpoint{11, 51000, 1} << 51001;
    QTest::newRow("own port shared with another remote")
        << QVector<Endpoint>{{10, 51000, 1}} << Endpoint{11, 51000, 2} << 51000;
    QTest::newRow("collisions skip every port in use")
        << QVector<Endpoint>{{10, 51000, 1}, {11, 51001, 1}, {12, 51002, 1}}
        << Endpoint{13, 51000, 1} << 51003;
    QTest::newRow("wrap from 65535 to 10000")
        << QVector<Endpoint>{{10, 65535, 1}} << Endpoint{11, 65535, 1} << 10000;
    QTest::newRow("wrap past a taken 10000")
        << QVector<Endpoint>{{10, 65535, 1}, {11, 10000, 1}} << Endpoint{12, 65535, 1} << 10001;
}

void TestPortTable::externalPortChoice()
{
    QFETCH(QVector<Endpoint>, existing);
    QFETCH(Endpoint, added);
    QFETCH(int, expected);

    UpTime clock;
    PortTable table(&clock);
    for (const Endpoint &e : existing) {
        QVERIFY(table.translateOutbound(client(e.clientHost), port(e.clientPort), remote(e.remoteHost),
                                        port(443), 60, 0x02));
    }
    const std::optional<quint16> chosen = table.translateOutbound(
        client(added.clientHost), port(added.clientPort), remote(added.remoteHost), port(443), 60, 0x02);
    QVERIFY(chosen);
    QCOMPARE(int(*chosen), expected);
    // The reply finds the new client, not one sharing the port.
    const std::optional<PortKey> back = table.translateInbound(*chosen, remote(added.remoteHost),
                                                               port(443), 60, 0x12);
    QVERIFY(back);
    QCOMPARE(*back, dynamicKey(client(added.clientHost), added.clientPort, remote(added.remoteHost), 443));
    QVERIFY(table.isConsistent());
}

// The alias pairs remote host 1 with remote host 2 (both port 443), as the DNS redirect
// pairs the gateway's port 53 with the DNS server's.
void TestPortTable::aliasedRemotesNeverSharePorts_data()
{
    QTest::addColumn<bool>("paired");
    QTest::addColumn<Endpoint>("existing");
    QTest::addColumn<Endpoint>("added");
    QTest::addColumn<int>("expected");

    QTest::newRow("alias first, then the endpoint it stands for")
        << true << Endpoint{10, 51000, 1} << Endpoint{11, 51000, 2} << 51001;
    QTest::newRow("endpoint first, then its alias")
        << true << Endpoint{10, 51000, 2} << Endpoint{11, 51000, 1} << 51001;
    QTest::newRow("an unrelated remote still shares")
        << true << Endpoint{10, 51000, 1} << Endpoint{11, 51000, 3} << 51000;
    QTest::newRow("pairing cleared: shared again")
        << false << Endpoint{10, 51000, 1} << Endpoint{11, 51000, 2} << 51000;
}

void TestPortTable::aliasedRemotesNeverSharePorts()
{
    QFETCH(bool, paired);
    QFETCH(Endpoint, existing);
    QFETCH(Endpoint, added);
    QFETCH(int, expected);

    UpTime clock;
    PortTable table(&clock);
    table.setRemoteAlias(remote(1), port(443), remote(2), port(443));
    if (!paired)
        table.setRemoteAlias(0, 0, 0, 0);
    const std::optional<quint16> first = table.translateOutbound(
        client(existing.clientHost), port(existing.clientPort), remote(existing.remoteHost), port(443), 60, 0);
    QVERIFY(first);
    const std::optional<quint16> second = table.translateOutbound(
        client(added.clientHost), port(added.clientPort), remote(added.remoteHost), port(443), 60, 0);
    QVERIFY(second);
    QCOMPARE(int(*second), expected);
    QCOMPARE(int(*first), 51000);
    QVERIFY(table.isConsistent());
}

void TestPortTable::exhaustionAndRelease()
{
    UpTime clock;
    PortTable table(&clock);
    // 55536 clients, each on its own port 10000..65535, all talking to one remote endpoint.
    for (int i = 0; i < 55536; ++i) {
        const quint32 address = ipv4(10, quint8(i >> 16), quint8(i >> 8), quint8(i));
        const std::optional<quint16> p = table.translateOutbound(address, port(quint16(10000 + i)),
                                                                 remote(1), port(443), 60, 0x02);
        QVERIFY(p);
        QCOMPARE(int(*p), 10000 + i);
    }
    QVERIFY(!table.translateOutbound(client(200), port(5000), remote(1), port(443), 60, 0x02));
    QVERIFY(!table.translateOutbound(client(200), port(30000), remote(1), port(443), 0, 0x00));
    QCOMPARE(table.size(), 55536);
    // Another remote endpoint still gets a port; so does another port of the same host.
    QCOMPARE(table.translateOutbound(client(200), port(5000), remote(2), port(443), 60, 0x02),
             std::optional<quint16>(10000));
    QCOMPARE(table.translateOutbound(client(200), port(5000), remote(1), port(80), 60, 0x02),
             std::optional<quint16>(10000));
    // Releasing one mapping frees exactly its port.
    QVERIFY(table.removeMapping(dynamicKey(ipv4(10, 0, 0x75, 0x30), 40000, remote(1), 443)));
    QCOMPARE(table.translateOutbound(client(201), port(5000), remote(1), port(443), 60, 0x02),
             std::optional<quint16>(40000));
    QVERIFY(table.isConsistent());
}

void TestPortTable::creationRules_data()
{
    QTest::addColumn<bool>("outbound");
    QTest::addColumn<bool>("withStatic");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("state"); // 0: nothing is created

    QTest::newRow("out SYN") << true << false << 0x02 << int(PortState::SynOut);
    QTest::newRow("out no flags (UDP)") << true << false << 0x00 << int(PortState::Unanswered);
    QTest::newRow("out ACK") << true << false << 0x10 << 0;
    QTest::newRow("out SYN-ACK") << true << false << 0x12 << 0;
    QTest::newRow("out SYN with ECN bits") << true << false << 0xC2 << 0;
    QTest::newRow("out FIN") << true << false << 0x01 << 0;
    QTest::newRow("out ICMP error (4)") << true << false << 0x04 << 0;
    QTest::newRow("in SYN, no static") << false << false << 0x02 << 0;
    QTest::newRow("in no flags, no static") << false << false << 0x00 << 0;
    QTest::newRow("in SYN via static") << false << true << 0x02 << int(PortState::SynIn);
    QTest::newRow("in no flags via static") << false << true << 0x00 << int(PortState::Unanswered);
    QTest::newRow("in ACK via static") << false << true << 0x10 << 0;
    QTest::newRow("in SYN with ECN via static") << false << true << 0xC2 << 0;
    QTest::newRow("in ICMP error (4) via static") << false << true << 0x04 << 0;
}

void TestPortTable::creationRules()
{
    QFETCH(bool, outbound);
    QFETCH(bool, withStatic);
    QFETCH(int, flags);
    QFETCH(int, state);

    UpTime clock;
    PortTable table(&clock);
    Flow flow{table};
    if (withStatic)
        QVERIFY(flow.addStatic());
    const int before = table.size();
    const bool translated = outbound ? flow.out(quint8(flags)) : flow.in(quint8(flags));
    QCOMPARE(translated, state != 0);
    QCOMPARE(table.size(), before + (state != 0 ? 1 : 0));
    QCOMPARE(int(flow.state()), state);
    if (state != 0) {
        const PortEntry entry = *table.entry(flow.key());
        QCOMPARE(int(entry.origin), int(outbound ? MappingOrigin::Outbound : MappingOrigin::Inbound));
        QCOMPARE(entry.externalPort, flow.clientPort);
    }
}

void TestPortTable::stateTransitions_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("state");

    // Outbound rows.
    QTest::newRow("out RST on established") << "o02 i12 o10 o04" << 11;
    QTest::newRow("out RST-ACK on SYN sent") << "o02 o14" << 11;
    QTest::newRow("out SYN again resets to 2") << "o02 i12 o10 o02" << 2;
    QTest::newRow("SYN-ACK in keeps 2") << "o02 i12" << 2;
    QTest::newRow("out ACK in state 2") << "o02 i12 o10" << 4;
    QTest::newRow("out push-ACK in state 2 keeps 2") << "o02 o18" << 2;
    QTest::newRow("out FIN-ACK in state 4") << "o02 i12 o10 o11" << 5;
    QTest::newRow("out FIN in state 3 (simultaneous open)") << "o02 i02 o01" << 5;
    QTest::newRow("out FIN-ACK in state 3 (served)") << "s i02 o11" << 5;
    QTest::newRow("out FIN in state 7") << "o02 i12 o10 i11 o11" << 9;
    QTest::newRow("out first answer of inbound flow") << "s i00 o10" << 4;
    QTest::newRow("out push-ACK in state 4 keeps 4") << "o02 i12 o10 o18" << 4;
    QTest::newRow("out FIN in state 5 keeps 5") << "o02 i12 o10 o11 o11" << 5;
    // Inbound rows.
    QTest::newRow("in RST") << "o02 i14" << 11;
    QTest::newRow("in SYN on established") << "o02 i12 o10 i02" << 3;
    QTest::newRow("in ACK in state 3") << "s i02 o12 i10" << 4;
    QTest::newRow("out SYN-ACK in state 3 keeps 3") << "s i02 o12" << 3;
    QTest::newRow("in FIN in state 4") << "o02 i12 o10 i11" << 7;
    QTest::newRow("in ACK in state 5") << "o02 i12 o10 o11 i10" << 6;
    QTest::newRow("in FIN-ACK in state 5") << "o02 i12 o10 o11 i11" << 10;
    QTest::newRow("in FIN in state 5") << "o02 i12 o10 o11 i01" << 8;
    QTest::newRow("in push-ACK in state 5 keeps 5") << "o02 i12 o10 o11 i18" << 5;
    QTest::newRow("in FIN in state 6") << "o02 i12 o10 o11 i10 i11" << 10;
    QTest::newRow("in ACK in state 8") << "o02 i12 o10 o11 i01 i10" << 10;
    QTest::newRow("in ACK in state 9") << "o02 i12 o10 i11 o11 i10" << 11;
    QTest::newRow("in first answer of outbound flow") << "o00 i10" << 4;
    QTest::newRow("in push-ACK in state 7 keeps 7") << "o02 i12 o10 i11 i18" << 7;
    // UDP passes 0, and 4 for an ICMP error about the flow.
    QTest::newRow("udp unanswered") << "o00" << 12;
    QTest::newRow("udp second query stays unanswered") << "o00 o00" << 12;
    QTest::newRow("udp answered") << "o00 i00" << 4;
    QTest::newRow("udp answered stays answered") << "o00 i00 o00 i00" << 4;
    QTest::newRow("udp inbound via static, unanswered") << "s i00" << 12;
    QTest::newRow("udp inbound via static, answered") << "s i00 o00" << 4;
    QTest::newRow("udp ICMP error outbound") << "o00 i00 o04" << 11;
    QTest::newRow("udp ICMP error inbound") << "o00 i04" << 11;
}

void TestPortTable::stateTransitions()
{
    QFETCH(QString, path);
    QFETCH(int, state);

    UpTime clock;
    PortTable table(&clock);
    Flow flow{table};
    if (path.startsWith(QLatin1Char('s')))
        flow.clientPort = 8080;
    QVERIFY(flow.walk(path));
    QCOMPARE(int(flow.state()), state);
    // Exactly one dynamic mapping carried the whole path.
    QCOMPARE(table.size(), path.startsWith(QLatin1Char('s')) ? 2 : 1);
}

void TestPortTable::inboundWithoutMatchFails()
{
    UpTime clock;
    PortTable table(&clock);
    QVERIFY(!table.translateInbound(40000, remote(7), port(443), 60, 0x12));
    QVERIFY(!table.translateInbound(40000, remote(7), port(443), 60, 0x00));
    Flow flow{table};
    QVERIFY(flow.out(0x02));
    QVERIFY(!table.translateInbound(40000, remote(7), port(444), 60, 0x12));   // other port
    QVERIFY(!table.translateInbound(40000, remote(8), port(443), 60, 0x12));   // other host
    QVERIFY(!table.translateInbound(40001, remote(7), port(443), 60, 0x12));   // other external
    QVERIFY(!table.translateInbound(40000, remote(8), port(443), 60, 0x02));   // no wildcard
    QCOMPARE(table.size(), 1);
    QCOMPARE(int(flow.state()), int(PortState::SynOut));
    QCOMPARE(table.entry(flow.key())->packetsIn, 0u);
    // Remote address or port 0 never creates a mapping that would admit any remote.
    QVERIFY(!table.translateOutbound(client(10), port(40001), 0, port(443), 60, 0x00));
    QVERIFY(!table.translateOutbound(client(10), port(40001), remote(7), 0, 60, 0x02));
    QCOMPARE(table.size(), 1);
}

void TestPortTable::countersPerDirection()
{
    UpTime clock;
    PortTable table(&clock);
    Flow flow{table};
    tick(clock, 5);
    flow.length = 74;
    QVERIFY(flow.out(0x02));
    tick(clock, 2);
    flow.length = 1514;
    QVERIFY(flow.in(0x12));
    QVERIFY(flow.in(0x10));
    tick(clock, 3);
    flow.length = 66;
    QVERIFY(flow.out(0x10));
    const PortEntry entry = *table.entry(flow.key());
    QCOMPARE(entry.bytesOut, 74u + 66u);
    QCOMPARE(entry.packetsOut, 2u);
    QCOMPARE(entry.bytesIn, 2u * 1514u);
    QCOMPARE(entry.packetsIn, 2u);
    QCOMPARE(entry.lastSeen, 10u);
}

void TestPortTable::staticMappingAnyRemote()
{
    UpTime clock;
    PortTable table(&clock);
    QVERIFY(table.addStaticMapping(0xC0A8330A, 80, 0, 8080)); // 192.168.51.10:80, any remote
    PortKey staticKey;
    staticKey.privateAddress = client(10);
    staticKey.privatePort = port(80);
    staticKey.staticPort = port(8080);
    QCOMPARE(int(table.entry(staticKey)->state), int(PortState::Static));
    QCOMPARE(int(table.entry(staticKey)->origin), int(MappingOrigin::Inbound));

    tick(clock, 42);
    const std::optional<PortKey> found = table.translateInbound(8080, remote(9), port(5555), 74, 0x02);
    QVERIFY(found);
    QCOMPARE(*found, dynamicKey(client(10), 80, remote(9), 5555));
    const PortEntry derived = *table.entry(*found);
    QCOMPARE(int(derived.state), int(PortState::SynIn));
    QCOMPARE(int(derived.origin), int(MappingOrigin::Inbound));
    QCOMPARE(derived.externalPort, quint16(8080));
    QCOMPARE(derived.bytesIn, 74u);
    QCOMPARE(derived.packetsIn, 1u);
    QCOMPARE(table.entry(staticKey)->lastSeen, 42u); // refreshed
    // The server's answer leaves through the static mapping's port, and the flow goes on.
    QCOMPARE(table.translateOutbound(client(10), port(80), remote(9), port(5555), 74, 0x12),
             std::optional<quint16>(8080));
    QVERIFY(table.translateInbound(8080, remote(9), port(5555), 66, 0x10));
    QCOMPARE(int(table.entry(*found)->state), int(PortState::Established));
    // A second remote gets its own mapping; a segment that is not a bare SYN gets nothing.
    QVERIFY(table.translateInbound(8080, remote(10), port(6000), 74, 0x02));
    QVERIFY(!table.translateInbound(8080, remote(11), port(6000), 66, 0x10));
    QCOMPARE(table.size(), 3);
    QVERIFY(table.isConsistent());
}

void TestPortTable::staticMappingNamedRemote()
{
    UpTime clock;
    PortTable table(&clock);
    QVERIFY(table.addStaticMapping(0xC0A8330A, 22, 0xCB007109, 2222)); // only from 203.0.113.9
    QVERIFY(!table.translateInbound(2222, remote(8), port(5555), 74, 0x02));
    const std::optional<PortKey> found = table.translateInbound(2222, remote(9), port(5555), 74, 0x02);
    QVERIFY(found);
    QCOMPARE(*found, dynamicKey(client(10), 22, remote(9), 5555));
    QCOMPARE(table.size(), 2);
}

void TestPortTable::lastWildcardWins_data()
{
    QTest::addColumn<bool>("anyFirst");
    QTest::addColumn<quint8>("fromRemote");
    QTest::addColumn<quint8>("expectedClient");

    // Client 10 takes any remote, client 20 only 203.0.113.9; both on external port 9000.
    QTest::newRow("any first, named remote") << true << quint8(9) << quint8(20);
    QTest::newRow("any first, other remote") << true << quint8(8) << quint8(10);
    QTest::newRow("named first, named remote") << false << quint8(9) << quint8(10);
    QTest::newRow("named first, other remote") << false << quint8(8) << quint8(10);
}

void TestPortTable::lastWildcardWins()
{
    QFETCH(bool, anyFirst);
    QFETCH(quint8, fromRemote);
    QFETCH(quint8, expectedClient);

    UpTime clock;
    PortTable table(&clock);
    auto addAny = [&] { QVERIFY(table.addStaticMapping(0xC0A8330A, 80, 0, 9000)); };
    auto addNamed = [&] { QVERIFY(table.addStaticMapping(0xC0A83314, 80, 0xCB007109, 9000)); };
    if (anyFirst) {
        addAny();
        addNamed();
    } else {
        addNamed();
        addAny();
    }
    const std::optional<PortKey> found = table.translateInbound(9000, remote(fromRemote), port(4000), 60, 0x02);
    QVERIFY(found);
    QCOMPARE(found->privateAddress, client(expectedClient));
}

void TestPortTable::staticMappingAddRemove()
{
    UpTime clock;
    PortTable table(&clock);
    QVERIFY(table.addStaticMapping(0xC0A8330A, 80, 0, 8080));
    tick(clock, 5);
    QVERIFY(table.addStaticMapping(0xC0A8330A, 80, 0, 8080)); // already there: unchanged
    QCOMPARE(table.size(), 1);
    PortKey key; // as the port mapping service builds it, in network order
    key.privateAddress = client(10);
    key.privatePort = port(80);
    key.staticPort = port(8080);
    QCOMPARE(table.entry(key)->lastSeen, 0u);

    QVERIFY(!table.addStaticMapping(0xC0A8330A, 80, 0, 0));
    QVERIFY(!table.addStaticMapping(0, 80, 0, 8081));
    QVERIFY(!table.addStaticMapping(0xC0A8330A, 0, 0, 8082));
    QCOMPARE(table.size(), 1);

    key.unused = 0xBEEF; // bytes 6-7 never count
    QVERIFY(table.removeMapping(key));
    QVERIFY(!table.removeMapping(key));
    QCOMPARE(table.size(), 0);
    QVERIFY(!table.translateInbound(8080, remote(9), port(5555), 74, 0x02));
    QVERIFY(table.keysForPort(8080).isEmpty());
    QVERIFY(table.isConsistent());
}

void TestPortTable::wildcardDoesNotOverwriteExistingFlow()
{
    UpTime clock;
    PortTable table(&clock);
    // The client talks from port 8080 to 203.0.113.9:5555 through external port 10000 ...
    QCOMPARE(table.translateOutbound(client(10), port(8080), remote(9), port(5555), 60, 0x00),
             std::optional<quint16>(10000));
    // ... and then opens 8080 to anyone. The same remote endpoint knocking on 8080 must not
    // re-point the existing flow: its index entry under 10000 would be left dangling.
    QVERIFY(table.addStaticMapping(0xC0A8330A, 8080, 0, 8080));
    QVERIFY(!table.translateInbound(8080, remote(9), port(5555), 60, 0x00));
    QVERIFY(table.isConsistent());
    QCOMPARE(table.entry(dynamicKey(client(10), 8080, remote(9), 5555))->externalPort, quint16(10000));
    QCOMPARE(table.translateInbound(10000, remote(9), port(5555), 60, 0x00),
             std::optional<PortKey>(dynamicKey(client(10), 8080, remote(9), 5555)));
    QVERIFY(table.removeMapping(dynamicKey(client(10), 8080, remote(9), 5555)));
    QVERIFY(table.isConsistent());
    QVERIFY(table.keysForPort(10000).isEmpty());
    // Once the old flow is gone the wildcard serves that remote endpoint.
    QVERIFY(table.translateInbound(8080, remote(9), port(5555), 60, 0x00));
    QVERIFY(table.isConsistent());
}

void TestPortTable::twoEngineThreadsAndOwner()
{
    UpTime clock;
    PortTable table(&clock);
    constexpr int kFlows = 500;
    constexpr int kRounds = 200;
    for (int i = 0; i < kFlows; ++i)
        QVERIFY(table.translateOutbound(client(10), port(quint16(20000 + i)), remote(1), port(443), 1, 0x00));

    std::atomic<bool> go{false};
    std::atomic<int> failures{0};
    auto privateEngine = [&] {
        while (!go.load()) {}
        for (int r = 0; r < kRounds; ++r)
            for (int i = 0; i < kFlows; ++i)
                if (!table.translateOutbound(client(10), port(quint16(20000 + i)), remote(1), port(443), 1, 0x00))
                    failures.fetch_add(1);
    };
    auto publicEngine = [&] {
        while (!go.load()) {}
        for (int r = 0; r < kRounds; ++r)
            for (int i = 0; i < kFlows; ++i)
                if (!table.translateInbound(quint16(20000 + i), remote(1), port(443), 2, 0x00))
                    failures.fetch_add(1);
    };
    std::thread a(privateEngine);
    std::thread b(publicEngine);
    go.store(true);
    // Meanwhile the owner purges and adds and removes mappings of other clients.
    for (int r = 0; r < 300; ++r) {
        table.addStaticMapping(0xC0A83314, quint16(80 + r % 7), 0, quint16(30000 + r % 11));
        table.translateOutbound(client(30), port(quint16(40000 + r)), remote(2), port(53), 1, 0x00);
        PortKey key;
        key.privateAddress = client(20);
        key.privatePort = port(quint16(80 + (r + 3) % 7));
        key.staticPort = port(quint16(30000 + (r + 3) % 11));
        table.removeMapping(key);
        table.purge([](const PortKey &k, const PortEntry &) { return k.privateAddress == client(30) ? 0u : 1000u; });
    }
    a.join();
    b.join();

    QCOMPARE(failures.load(), 0);
    for (int i = 0; i < kFlows; ++i) {
        const PortEntry entry = *table.entry(dynamicKey(client(10), quint16(20000 + i), remote(1), 443));
        QCOMPARE(entry.packetsOut, quint32(kRounds + 1));
        QCOMPARE(entry.bytesOut, quint32(kRounds + 1));
        QCOMPARE(entry.packetsIn, quint32(kRounds));
        QCOMPARE(entry.bytesIn, quint32(2 * kRounds));
        QCOMPARE(int(entry.state), int(PortState::Established));
    }
    QVERIFY(table.isConsistent());
}

QTEST_APPLESS_MAIN(TestPortTable)
#include "tst_porttable.moc"
