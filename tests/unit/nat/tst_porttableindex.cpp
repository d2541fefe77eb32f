// SPDX-License-Identifier: GPL-3.0-or-later
// The port table's reverse index under churn: shared static slots and mappings moving inside the table.
#include "natflows.h"

#include <QtTest>

#include <random>
#include <vector>

using namespace natflows;

namespace {

PortKey staticKey(quint8 clientHost, quint16 privatePort, quint32 remoteAddress, quint16 externalPort)
{
    PortKey key;
    key.privateAddress = client(clientHost);
    key.privatePort = port(privatePort);
    key.remoteAddress = remoteAddress;
    key.staticPort = port(externalPort);
    return key;
}

struct Mapped {
    PortKey key;
    quint16 externalPort = 0;
};

} // namespace

class TestPortTableIndex : public QObject
{
    Q_OBJECT

private slots:
    void sharedStaticSlotPassesInOrder_data();
    void sharedStaticSlotPassesInOrder();
    void churnKeepsEveryFlowReachable();
};

void TestPortTableIndex::sharedStaticSlotPassesInOrder_data()
{
    QTest::addColumn<quint32>("remoteAddress");
    QTest::addColumn<QVector<int>>("removals");

    // Clients 10, 11, 12 (in that order) share external port 8080 for the same remote.
    QTest::newRow("any remote, first then next") << quint32(0) << QVector<int>{10, 11};
    QTest::newRow("any remote, a later one first") << quint32(0) << QVector<int>{11, 10};
    QTest::newRow("named remote, first then last") << remote(9) << QVector<int>{10, 12};
    QTest::newRow("named remote, all") << remote(9) << QVector<int>{12, 10, 11};
}

// A packet naming exactly the shared slot (remote port 0) goes to the first of the static
// mappings still there, in the order they were added.
void TestPortTableIndex::sharedStaticSlotPassesInOrder()
{
    QFETCH(quint32, remoteAddress);
    QFETCH(QVector<int>, removals);

    UpTime clock;
    PortTable table(&clock);
    QVector<int> present{10, 11, 12};
    for (int host : present) {
        QVERIFY(table.addStaticMapping(qFromBigEndian(client(quint8(host))), quint16(80 + host),
                                       qFromBigEndian(remoteAddress), 8080));
    }
    // Fill the table around them so that removals move other mappings about.
    for (int i = 0; i < 300; ++i)
        QVERIFY(table.translateOutbound(client(20), port(quint16(30000 + i)), remote(1), port(443), 60, 0x02));

    for (int host : removals) {
        const std::optional<PortKey> before = table.translateInbound(8080, remoteAddress, 0, 60, 0x10);
        QVERIFY(before);
        QCOMPARE(*before, staticKey(quint8(present.first()), quint16(80 + present.first()), remoteAddress, 8080));
        QVERIFY(table.removeMapping(staticKey(quint8(host), quint16(80 + host), remoteAddress, 8080)));
        present.removeOne(host);
        QVERIFY(table.isConsistent());
    }
    const std::optional<PortKey> last = table.translateInbound(8080, remoteAddress, 0, 60, 0x10);
    if (present.isEmpty()) {
        QVERIFY(!last);
    } else {
        QVERIFY(last);
        QCOMPARE(*last, staticKey(quint8(present.first()), quint16(80 + present.first()), remoteAddress, 8080));
    }
    QCOMPARE(table.keysForPort(8080).size(), present.size());
}

// Rounds of new flows, removals one by one and purges of a random part; after each round
// every live flow is found in both directions with its own port and every removed one in
// neither.
void TestPortTableIndex::churnKeepsEveryFlowReachable()
{
    UpTime clock;
    PortTable table(&clock);
    std::mt19937 random(1234);
    QHash<PortKey, quint16> live;
    std::vector<Mapped> removed;
    const quint16 remotePorts[] = {443, 80, 53};

    for (int round = 0; round < 12; ++round) {
        for (int i = 0; i < 4000; ++i) {
            const quint32 address = ipv4(192, 168, 51, quint8(2 + random() % 250));
            const quint16 clientPort = quint16(30000 + random() % 30000);
            const quint32 remoteAddress = remote(quint8(1 + random() % 20));
            const quint16 remotePort = remotePorts[random() % 3];
            const std::optional<quint16> external = table.translateOutbound(
                address, port(clientPort), remoteAddress, port(remotePort), 60, 0x00);
            QVERIFY(external);
            live.insert(dynamicKey(address, clientPort, remoteAddress, remotePort), *external);
        }
        QVector<PortKey> keys = live.keys().toVector();
        std::shuffle(keys.begin(), keys.end(), random);
        const int third = keys.size() / 3;
        for (int i = 0; i < third / 2; ++i) {
            QVERIFY(table.removeMapping(keys.at(i)));
            removed.push_back({keys.at(i), live.take(keys.at(i))});
        }
        QSet<PortKey> purged;
        for (int i = third / 2; i < third; ++i) {
            purged.insert(keys.at(i));
            removed.push_back({keys.at(i), live.take(keys.at(i))});
        }
        table.purge([&](const PortKey &key, const PortEntry &) { return purged.contains(key) ? 0u : 1000u; });

        QCOMPARE(table.size(), live.size());
        for (auto it = live.constBegin(); it != live.constEnd(); ++it) {
            const PortKey &key = it.key();
            const std::optional<PortKey> in = table.translateInbound(it.value(), key.remoteAddress,
                                                                     key.remotePort, 60, 0x10);
            QVERIFY(in);
            QCOMPARE(*in, key);
            QCOMPARE(table.translateOutbound(key.privateAddress, key.privatePort, key.remoteAddress,
                                             key.remotePort, 60, 0x10),
                     std::optional<quint16>(it.value()));
        }
        for (const Mapped &gone : removed) {
            if (live.contains(gone.key))
                continue; // the same flow came back in a later round
            QVERIFY(!table.entry(gone.key));
            const std::optional<PortKey> in = table.translateInbound(
                gone.externalPort, gone.key.remoteAddress, gone.key.remotePort, 60, 0x10);
            QVERIFY(!in || *in != gone.key);
        }
    }
    QVERIFY(table.isConsistent());
}

QTEST_APPLESS_MAIN(TestPortTableIndex)
#include "tst_porttableindex.moc"
