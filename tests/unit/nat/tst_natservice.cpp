// SPDX-License-Identifier: GPL-3.0-or-later
// The translation service: idle time-outs per state, the DNS rule, purge intervals, stop().
#include "engine/natservice.h"
#include "natflows.h"

#include <QTimer>
#include <QtTest>

using namespace natflows;

class TestNATService : public QObject
{
    Q_OBJECT

private slots:
    void idleTimeoutPerState_data();
    void idleTimeoutPerState();
    void purgeIntervals_data();
    void purgeIntervals();
    void startArmsStopDisarms();
    void icmpMappingsExpireAfterSixtyIdleSeconds();
    void stopEmptiesEveryTableButKeepsConfiguration();
    void subnetParsing_data();
    void subnetParsing();
    void addressesInNetworkOrder();
};

namespace {

QTimer *purgeTimer(NATService &nat, const char *name)
{
    return nat.findChild<QTimer *>(QLatin1String(name));
}

bool purge(NATService &nat, const QString &table)
{
    const QByteArray slot = (table + QLatin1String("Timeout")).toLatin1();
    return QMetaObject::invokeMethod(&nat, slot.constData());
}

PortKey staticKeyOf(const Flow &flow)
{
    PortKey key;
    key.privateAddress = flow.clientAddress;
    key.privatePort = port(flow.clientPort);
    key.staticPort = port(flow.clientPort);
    return key;
}

} // namespace

void TestNATService::idleTimeoutPerState_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("remotePort");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("idle");

    QTest::newRow("tcp 1 static") << "tcp" << "s" << 443 << 1 << 3600;
    QTest::newRow("tcp 2 SYN out") << "tcp" << "o02" << 443 << 2 << 30;
    QTest::newRow("tcp 3 SYN in") << "tcp" << "s i02" << 443 << 3 << 30;
    QTest::newRow("tcp 4 established") << "tcp" << "o02 i12 o10" << 443 << 4 << 7440;
    QTest::newRow("tcp 4 established, port 53") << "tcp" << "o02 i12 o10" << 53 << 4 << 7440;
    QTest::newRow("tcp 5 FIN out") << "tcp" << "o02 i12 o10 o11" << 443 << 5 << 30;
    QTest::newRow("tcp 6 FIN out acked") << "tcp" << "o02 i12 o10 o11 i10" << 443 << 6 << 30;
    QTest::newRow("tcp 7 FIN in") << "tcp" << "o02 i12 o10 i11" << 443 << 7 << 3720;
    QTest::newRow("tcp 8 FIN out, FIN in") << "tcp" << "o02 i12 o10 o11 i01" << 443 << 8 << 10;
    QTest::newRow("tcp 9 FIN in, FIN out") << "tcp" << "o02 i12 o10 i11 o11" << 443 << 9 << 30;
    QTest::newRow("tcp 10 closed") << "tcp" << "o02 i12 o10 o11 i11" << 443 << 10 << 30;
    QTest::newRow("tcp 11 reset") << "tcp" << "o02 i14" << 443 << 11 << 10;
    QTest::newRow("tcp 12 has none") << "tcp" << "o00" << 443 << 12 << 0;
    QTest::newRow("udp 1 static") << "udp" << "s" << 443 << 1 << 3600;
    QTest::newRow("udp 2 has none") << "udp" << "o02" << 443 << 2 << 0;
    QTest::newRow("udp 4 answered") << "udp" << "o00 i00" << 443 << 4 << 180;
    QTest::newRow("udp 4 answered, DNS") << "udp" << "o00 i00" << 53 << 4 << 30;
    QTest::newRow("udp 4 answered, port 5353") << "udp" << "o00 i00" << 5353 << 4 << 180;
    QTest::newRow("udp 4 answered, inbound flow") << "udp" << "s i00 o00" << 443 << 4 << 180;
    QTest::newRow("udp 11 ICMP error") << "udp" << "o00 i04" << 443 << 11 << 10;
    QTest::newRow("udp 12 unanswered") << "udp" << "o00" << 443 << 12 << 30;
    QTest::newRow("udp 12 unanswered, DNS") << "udp" << "o00" << 53 << 12 << 30;
}

void TestNATService::idleTimeoutPerState()
{
    QFETCH(QString, table);
    QFETCH(QString, path);
    QFETCH(int, remotePort);
    QFETCH(int, state);
    QFETCH(int, idle);

    UpTime clock;
    NATService nat(&clock);
    nat.start();
    tick(clock, 100);
    Flow flow{table == QLatin1String("tcp") ? *nat.tcpTable() : *nat.udpTable()};
    flow.remotePort = quint16(remotePort);
    if (path.startsWith(QLatin1Char('s')))
        flow.clientPort = 8080;
    QVERIFY(flow.walk(path));
    const PortKey key = path == QLatin1String("s") ? staticKeyOf(flow) : flow.key();
    QCOMPARE(int(flow.table.entry(key)->state), state);

    if (idle > 0) {
        tick(clock, idle - 1);
        QVERIFY(purge(nat, table));
        QVERIFY2(flow.table.entry(key), "expired a second early");
        tick(clock);
    }
    QVERIFY(purge(nat, table));
    QVERIFY2(!flow.table.entry(key), "outlived its time-out");
    QVERIFY(flow.table.isConsistent());
}

void TestNATService::purgeIntervals_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("path"); // "" none, "ping" one echo flow
    QTest::addColumn<int>("wait");
    QTest::addColumn<int>("interval");

    QTest::newRow("tcp empty") << "tcp" << "" << 0 << 10000;
    QTest::newRow("tcp state 8, 3 s idle") << "tcp" << "o02 i12 o10 o11 i01" << 3 << 7000;
    QTest::newRow("tcp state 11, 9 s idle") << "tcp" << "o02 i14" << 9 << 1000;
    QTest::newRow("tcp state 2, 5 s idle") << "tcp" << "o02" << 5 << 10000;
    QTest::newRow("tcp established") << "tcp" << "o02 i12 o10" << 7000 << 10000;
    QTest::newRow("tcp expired and gone") << "tcp" << "o02 i14" << 10 << 10000;
    QTest::newRow("udp DNS answered, 25 s idle") << "udp" << "o00 i00" << 25 << 5000;
    QTest::newRow("udp unanswered, fresh") << "udp" << "o00" << 0 << 10000;
    QTest::newRow("udp ICMP error, 4 s idle") << "udp" << "o00 i04" << 4 << 6000;
    QTest::newRow("icmp empty") << "icmp" << "" << 0 << 60000;
    QTest::newRow("icmp 15 s idle") << "icmp" << "ping" << 15 << 45000;
    QTest::newRow("icmp 59 s idle") << "icmp" << "ping" << 59 << 1000;
    QTest::newRow("icmp fresh") << "icmp" << "ping" << 0 << 60000;
}

void TestNATService::purgeIntervals()
{
    QFETCH(QString, table);
    QFETCH(QString, path);
    QFETCH(int, wait);
    QFETCH(int, interval);

    UpTime clock;
    NATService nat(&clock);
    nat.start();
    if (path == QLatin1String("ping")) {
        QVERIFY(nat.icmpTable()->translateOutbound(client(10), remote(7), port(1), 98));
    } else if (!path.isEmpty()) {
        Flow flow{table == QLatin1String("tcp") ? *nat.tcpTable() : *nat.udpTable()};
        flow.remotePort = 53;
        QVERIFY(flow.walk(path));
    }
    tick(clock, wait);
    QVERIFY(purge(nat, table));
    QTimer *timer = purgeTimer(nat, (table + QLatin1String("Purge")).toLatin1().constData());
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), interval);
}

void TestNATService::startArmsStopDisarms()
{
    UpTime clock;
    NATService nat(&clock);
    QTimer *tcp = purgeTimer(nat, "tcpPurge");
    QTimer *udp = purgeTimer(nat, "udpPurge");
    QTimer *icmp = purgeTimer(nat, "icmpPurge");
    QVERIFY(tcp && udp && icmp);
    QVERIFY(!tcp->isActive() && !udp->isActive() && !icmp->isActive());
    nat.start();
    QVERIFY(tcp->isActive() && udp->isActive() && icmp->isActive());
    QCOMPARE(tcp->interval(), 10000);
    QCOMPARE(udp->interval(), 10000);
    QCOMPARE(icmp->interval(), 60000);
    nat.stop();
    QVERIFY(!tcp->isActive() && !udp->isActive() && !icmp->isActive());
    // A purge that still runs after stop() does not bring its timer back.
    QVERIFY(purge(nat, QStringLiteral("tcp")));
    QVERIFY(purge(nat, QStringLiteral("udp")));
    QVERIFY(purge(nat, QStringLiteral("icmp")));
    QVERIFY(!tcp->isActive() && !udp->isActive() && !icmp->isActive());
}

void TestNATService::icmpMappingsExpireAfterSixtyIdleSeconds()
{
    UpTime clock;
    NATService nat(&clock);
    nat.start();
    QueryTable *table = nat.icmpTable();
    QCOMPARE(table->translateOutbound(client(10), remote(7), port(0), 98), std::optional<quint16>(1));
    QCOMPARE(table->translateOutbound(client(11), remote(7), port(500), 98), std::optional<quint16>(500));
    QueryKey first;
    first.privateAddress = client(10);
    first.remoteAddress = remote(7);
    first.identifier = 0;
    QueryKey second = first;
    second.privateAddress = client(11);
    second.identifier = port(500);

    tick(clock, 30);
    QVERIFY(table->translateInbound(500, remote(7), 98)); // the reply keeps the second alive
    tick(clock, 29);
    QVERIFY(purge(nat, QStringLiteral("icmp")));
    QVERIFY(table->entry(first) && table->entry(second));
    tick(clock);
    QVERIFY(purge(nat, QStringLiteral("icmp")));
    QVERIFY(!table->entry(first));
    QVERIFY(table->entry(second));
    QCOMPARE(purgeTimer(nat, "icmpPurge")->interval(), 30000);
    tick(clock, 30);
    QVERIFY(purge(nat, QStringLiteral("icmp")));
    QCOMPARE(table->size(), 0);
    QVERIFY(!table->translateInbound(500, remote(7), 98));
    QVERIFY(table->isConsistent());
}

void TestNATService::stopEmptiesEveryTableButKeepsConfiguration()
{
    UpTime clock;
    NATService nat(&clock);
    QVERIFY(nat.setSubnet(QHostAddress(QStringLiteral("192.168.51.1")),
                          QHostAddress(QStringLiteral("255.255.255.0"))));
    QVERIFY(nat.setPrivateGateway(QHostAddress(QStringLiteral("192.168.51.1"))));
    QVERIFY(nat.setDnsServer(QHostAddress(QStringLiteral("198.51.100.53"))));
    nat.start();
    Flow tcp{*nat.tcpTable()};
    QVERIFY(tcp.walk(QStringLiteral("o02 i12 o10")));
    QVERIFY(nat.tcpTable()->addStaticMapping(0xC0A8330A, 80, 0, 8080));
    Flow udp{*nat.udpTable()};
    QVERIFY(udp.walk(QStringLiteral("o00 i00")));
    QVERIFY(nat.udpTable()->addStaticMapping(0xC0A8330A, 53, 0, 5353));
    QVERIFY(nat.icmpTable()->translateOutbound(client(10), remote(7), port(9), 98));

    nat.stop();
    QCOMPARE(nat.tcpTable()->size(), 0);
    QCOMPARE(nat.udpTable()->size(), 0);
    QCOMPARE(nat.icmpTable()->size(), 0);
    QVERIFY(nat.tcpTable()->isConsistent() && nat.udpTable()->isConsistent()
            && nat.icmpTable()->isConsistent());
    QVERIFY(!nat.tcpTable()->translateInbound(40000, remote(7), port(443), 60, 0x10));
    QVERIFY(!nat.udpTable()->translateInbound(5353, remote(7), port(443), 60, 0x00));
    QVERIFY(!nat.icmpTable()->translateInbound(9, remote(7), 98));
    QCOMPARE(nat.subnet(), qMakePair(QHostAddress(QStringLiteral("192.168.51.0")), 24));
    QCOMPARE(nat.privateGateway(), client(1));
    QCOMPARE(nat.dnsServer(), ipv4(198, 51, 100, 53));
    // A new run starts from the first port again.
    nat.start();
    QVERIFY(tcp.walk(QStringLiteral("o02")));
}

void TestNATService::subnetParsing_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("network");
    QTest::addColumn<int>("prefix");

    QTest::newRow("gateway /24") << "192.168.51.1" << "255.255.255.0" << true << "192.168.51.0" << 24;
    QTest::newRow("host bits cleared") << "10.1.2.3" << "255.255.0.0" << true << "10.1.0.0" << 16;
    QTest::newRow("/30") << "198.51.100.6" << "255.255.255.252" << true << "198.51.100.4" << 30;
    QTest::newRow("/32") << "203.0.113.9" << "255.255.255.255" << true << "203.0.113.9" << 32;
    QTest::newRow("holes in the mask") << "192.168.51.1" << "255.0.255.0" << false << "" << -1;
    QTest::newRow("IPv6 address") << "fe80::1" << "255.255.255.0" << false << "" << -1;
    QTest::newRow("null address") << "" << "255.255.255.0" << false << "" << -1;
}

void TestNATService::subnetParsing()
{
    QFETCH(QString, address);
    QFETCH(QString, mask);
    QFETCH(bool, accepted);
    QFETCH(QString, network);
    QFETCH(int, prefix);

    UpTime clock;
    NATService nat(&clock);
    // A valid subnet set before must not survive a refused one.
    QVERIFY(nat.setSubnet(QHostAddress(QStringLiteral("172.16.0.1")), QHostAddress(QStringLiteral("255.255.0.0"))));
    QCOMPARE(nat.setSubnet(QHostAddress(address), QHostAddress(mask)), accepted);
    QCOMPARE(nat.subnet().second, prefix);
    QCOMPARE(nat.subnet().first, accepted ? QHostAddress(network) : QHostAddress());
    QVERIFY(!nat.isInSubnet(ipv4(172, 16, 0, 5)));
    if (!accepted)
        return;
    const quint32 inside = qToBigEndian(QHostAddress(network).toIPv4Address());
    QVERIFY(nat.isInSubnet(inside));
    const quint32 hostBits = prefix == 32 ? 0 : (~quint32(0) >> prefix);
    QVERIFY(nat.isInSubnet(qToBigEndian(QHostAddress(network).toIPv4Address() | hostBits)));
    QVERIFY(!nat.isInSubnet(qToBigEndian(QHostAddress(network).toIPv4Address() ^ 0x80000000u)));
}

void TestNATService::addressesInNetworkOrder()
{
    UpTime clock;
    NATService nat(&clock);
    QCOMPARE(nat.privateGateway(), 0u);
    QVERIFY(nat.setPrivateGateway(QHostAddress(QStringLiteral("192.168.51.1"))));
    QVERIFY(nat.setDnsServer(QHostAddress(QStringLiteral("198.51.100.53"))));
    QCOMPARE(nat.privateGateway(), ipv4(192, 168, 51, 1));
    QCOMPARE(nat.dnsServer(), ipv4(198, 51, 100, 53));
    QVERIFY(!nat.setDnsServer(QHostAddress(QStringLiteral("2001:db8::53"))));
    QCOMPARE(nat.dnsServer(), 0u);
}

QTEST_GUILESS_MAIN(TestNATService)
#include "tst_natservice.moc"
