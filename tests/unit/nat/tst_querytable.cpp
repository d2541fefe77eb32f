// SPDX-License-Identifier: GPL-3.0-or-later
// The ICMP echo table: identifier choice, replies, counters and exhaustion.
#include "engine/querytable.h"
#include "natflows.h"

#include <QtTest>

using namespace natflows;

namespace {

// One echo flow: client host, identifier (host order), remote host.
struct Ping {
    quint8 clientHost = 10;
    quint16 identifier = 0;
    quint8 remoteHost = 1;
};

QueryKey keyOf(const Ping &ping)
{
    QueryKey key;
    key.privateAddress = client(ping.clientHost);
    key.remoteAddress = remote(ping.remoteHost);
    key.identifier = port(ping.identifier);
    return key;
}

} // namespace

Q_DECLARE_METATYPE(Ping)
Q_DECLARE_METATYPE(QVector<Ping>)

class TestQueryTable : public QObject
{
    Q_OBJECT

private slots:
    void identifierChoice_data();
    void identifierChoice();
    void repliesAndCounters();
    void exhaustion();
};

void TestQueryTable::identifierChoice_data()
{
    QTest::addColumn<QVector<Ping>>("existing");
    QTest::addColumn<Ping>("added");
    QTest::addColumn<int>("expected");

    QTest::newRow("identifier 0 gets 1") << QVector<Ping>{} << Ping{10, 0, 1} << 1;
    QTest::newRow("own identifier when free") << QVector<Ping>{} << Ping{10, 4711, 1} << 4711;
    QTest::newRow("1 is its own") << QVector<Ping>{} << Ping{10, 1, 1} << 1;
    QTest::newRow("taken for that remote") << QVector<Ping>{{10, 7, 1}} << Ping{11, 7, 1} << 8;
    QTest::newRow("0 after 1 is taken") << QVector<Ping>{{10, 1, 1}} << Ping{11, 0, 1} << 2;
    QTest::newRow("shared with another remote") << QVector<Ping>{{10, 7, 1}} << Ping{11, 7, 2} << 7;
    QTest::newRow("wrap from 65535 to 1") << QVector<Ping>{{10, 65535, 1}} << Ping{11, 65535, 1} << 1;
    QTest::newRow("wrap past a taken 1")
        << QVector<Ping>{{10, 65535, 1}, {11, 1, 1}} << Ping{12, 65535, 1} << 2;
    QTest::newRow("same client, other identifier") << QVector<Ping>{{10, 7, 1}} << Ping{10, 8, 1} << 8;
}

void TestQueryTable::identifierChoice()
{
    QFETCH(QVector<Ping>, existing);
    QFETCH(Ping, added);
    QFETCH(int, expected);

    UpTime clock;
    QueryTable table(&clock);
    for (const Ping &p : existing)
        QVERIFY(table.translateOutbound(client(p.clientHost), remote(p.remoteHost), port(p.identifier), 98));
    const std::optional<quint16> chosen = table.translateOutbound(
        client(added.clientHost), remote(added.remoteHost), port(added.identifier), 98);
    QVERIFY(chosen);
    QCOMPARE(int(*chosen), expected);
    const std::optional<QueryKey> back = table.translateInbound(*chosen, remote(added.remoteHost), 98);
    QVERIFY(back);
    QCOMPARE(*back, keyOf(added));
    QVERIFY(table.isConsistent());
}

void TestQueryTable::repliesAndCounters()
{
    UpTime clock;
    QueryTable table(&clock);
    const Ping ping{10, 300, 7};
    QCOMPARE(table.translateOutbound(client(10), remote(7), port(300), 98), std::optional<quint16>(300));
    tick(clock, 3);
    QCOMPARE(table.translateOutbound(client(10), remote(7), port(300), 1514), std::optional<quint16>(300));
    QVERIFY(!table.translateInbound(300, remote(8), 98)); // another host
    QVERIFY(!table.translateInbound(301, remote(7), 98)); // another identifier
    tick(clock, 2);
    QCOMPARE(table.translateInbound(300, remote(7), 1514), std::optional<QueryKey>(keyOf(ping)));
    const QueryEntry entry = *table.entry(keyOf(ping));
    QCOMPARE(entry.bytesOut, 98u + 1514u);
    QCOMPARE(entry.packetsOut, 2u);
    QCOMPARE(entry.bytesIn, 1514u);
    QCOMPARE(entry.packetsIn, 1u);
    QCOMPARE(entry.lastSeen, 5u);
    QVERIFY(!table.translateOutbound(client(10), 0, port(300), 98)); // no remote host
    QVERIFY(table.removeMapping(keyOf(ping)));
    QVERIFY(!table.translateInbound(300, remote(7), 98));
    QCOMPARE(table.size(), 0);
    QVERIFY(table.isConsistent());
}

void TestQueryTable::exhaustion()
{
    UpTime clock;
    QueryTable table(&clock);
    for (int i = 1; i <= 65535; ++i)
        QCOMPARE(table.translateOutbound(client(10), remote(1), port(quint16(i)), 98),
                 std::optional<quint16>(quint16(i)));
    QVERIFY(!table.translateOutbound(client(11), remote(1), port(5), 98));
    QVERIFY(!table.translateOutbound(client(11), remote(1), port(0), 98));
    QCOMPARE(table.translateOutbound(client(11), remote(2), port(5), 98), std::optional<quint16>(5));
    Ping freed{10, 777, 1};
    QVERIFY(table.removeMapping(keyOf(freed)));
    QCOMPARE(table.translateOutbound(client(11), remote(1), port(5), 98), std::optional<quint16>(777));
    QVERIFY(table.isConsistent());
}

QTEST_APPLESS_MAIN(TestQueryTable)
#include "tst_querytable.moc"
