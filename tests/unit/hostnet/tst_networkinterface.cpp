// SPDX-License-Identifier: GPL-3.0-or-later
// NetworkInterface logic on given adapter records, framework interfaces and route rows.
#include "spot/networkinterface.h"

#include <QtTest>

#include <algorithm>

namespace {

// The framework interfaces of this machine: classification needs real QNetworkInterface
// values, which only the framework can make. Loopback is always there.
QNetworkInterface someFrameworkInterface()
{
    const auto all = QNetworkInterface::allInterfaces();
    return all.isEmpty() ? QNetworkInterface() : all.first();
}

int unknownIndex()
{
    int highest = 0;
    for (const QNetworkInterface &i : QNetworkInterface::allInterfaces())
        highest = std::max(highest, i.index());
    return highest + 1000;
}

platform::AdapterRecord record(int index, const QString &name, int hardwareType)
{
    platform::AdapterRecord r;
    r.index = index;
    r.name = name;
    r.description = name + QStringLiteral(" adapter");
    r.hardwareType = hardwareType;
    r.dnsServers = {0xCB007135u, 0xC6336435u}; // 203.0.113.53, 198.51.100.53
    return r;
}

platform::RouteRecord row(quint32 destination, quint32 mask, quint32 nextHop, int ifindex, quint32 metric)
{
    return platform::RouteRecord{destination, mask, nextHop, ifindex, metric};
}

} // namespace

class TestNetworkInterface : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!someFrameworkInterface().isValid())
            QSKIP("the framework lists no interface here");
    }

    void classifiesByFilter_data()
    {
        QTest::addColumn<int>("hardwareType");
        QTest::addColumn<uint>("filter");
        QTest::addColumn<int>("expected"); // -1: left out

        const int eth = platform::kHardwareEthernet;
        const int wifi = platform::kHardwareIeee80211;
        const int loop = platform::kHardwareLoopback;
        QTest::newRow("ethernet, 255") << eth << 255u << 1;
        QTest::newRow("wireless, 255") << wifi << 255u << 2;
        QTest::newRow("loopback, 255") << loop << 255u << -1;
        QTest::newRow("ethernet, 258") << eth << 258u << 2;
        QTest::newRow("wireless, 258") << wifi << 258u << 2;
        QTest::newRow("loopback, 258") << loop << 258u << 2;
        QTest::newRow("ethernet, 1") << eth << 1u << 1;
        QTest::newRow("wireless, 1") << wifi << 1u << -1;
        QTest::newRow("ethernet, 2") << eth << 2u << -1;
        QTest::newRow("wireless, 2") << wifi << 2u << 2;
        // Any hardware type widens the type bits; on its own it names no type to give.
        QTest::newRow("ethernet, 0x100") << eth << 0x100u << -1;
        QTest::newRow("wireless, 0x100") << wifi << 0x100u << -1;
        QTest::newRow("wireless, 0x101") << wifi << 0x101u << 1;
        QTest::newRow("loopback, 0x103") << loop << 0x103u << 1;
    }

    void classifiesByFilter()
    {
        QFETCH(int, hardwareType);
        QFETCH(uint, filter);
        QFETCH(int, expected);
        const QNetworkInterface fw = someFrameworkInterface();
        const auto list = NetworkInterface::classify({record(fw.index(), "eth0", hardwareType)}, {fw}, filter);
        if (expected < 0) {
            QVERIFY(list.isEmpty());
            return;
        }
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].type(), expected);
        QCOMPARE(list[0].index(), fw.index());
        QCOMPARE(list[0].name(), QStringLiteral("eth0"));
        QCOMPARE(list[0].description(), QStringLiteral("eth0 adapter"));
        QCOMPARE(list[0].hardwareAddress(), fw.hardwareAddress());
        QVERIFY(list[0].isValid());
        const QList<QHostAddress> dns{QHostAddress("203.0.113.53"), QHostAddress("198.51.100.53")};
        QCOMPARE(list[0].dnsServers(), dns);
    }

    void leavesOutAdaptersTheFrameworkDoesNotKnow()
    {
        const QNetworkInterface fw = someFrameworkInterface();
        const auto list = NetworkInterface::classify(
            {record(unknownIndex(), "ghost", 6), record(fw.index(), "real", 6), record(unknownIndex() + 1, "ghost2", 71)},
            QNetworkInterface::allInterfaces(), 255);
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].name(), QStringLiteral("real"));
    }

    void keepsTheHostsOrder()
    {
        const QNetworkInterface fw = someFrameworkInterface();
        const auto list = NetworkInterface::classify(
            {record(fw.index(), "b", 71), record(fw.index(), "a", 6), record(fw.index(), "c", 6)}, {fw}, 255);
        QCOMPARE(list.size(), 3);
        QCOMPARE(list[0].name() + list[1].name() + list[2].name(), QStringLiteral("bac"));
    }

    void findsByNameIgnoringCase()
    {
        const QNetworkInterface fw = someFrameworkInterface();
        const auto list = NetworkInterface::classify(
            {record(fw.index(), "Wlan0", 71), record(fw.index(), "eth1", 6), record(fw.index(), "ETH1", 71)}, {fw}, 255);
        QCOMPARE(NetworkInterface::findByName("WLAN0", list).name(), QStringLiteral("Wlan0"));
        QCOMPARE(NetworkInterface::findByName("wlan0", list).type(), 2);
        // The first of two names that differ only in case wins.
        QCOMPARE(NetworkInterface::findByName("Eth1", list).type(), 1);
        QVERIFY(!NetworkInterface::findByName("wlan", list).isValid());
        QVERIFY(!NetworkInterface::findByName(QString(), list).isValid());
        QCOMPARE(NetworkInterface::findByName("nothing", list).index(), 0);
    }

    void findAndEqualityUseTheIndex()
    {
        const QNetworkInterface fw = someFrameworkInterface();
        const auto list = NetworkInterface::classify({record(fw.index(), "x", 6)}, {fw}, 255);
        QCOMPARE(NetworkInterface::find(fw.index(), list).name(), QStringLiteral("x"));
        QVERIFY(!NetworkInterface::find(unknownIndex(), list).isValid());
        const NetworkInterface bare(fw);
        QCOMPARE(bare.index(), 0);
        QCOMPARE(bare.type(), 0);
        QVERIFY(bare.name().isEmpty());
        QVERIFY(bare == list[0]); // same framework interface
        QVERIFY(NetworkInterface() != list[0]);
    }

    void refreshKeepsIndexWhenTheAdapterVanishes()
    {
        const QNetworkInterface fw = someFrameworkInterface();
        const auto before = NetworkInterface::classify({record(fw.index(), "old", 6)}, {fw}, 255);
        NetworkInterface value = before[0];
        value.refresh({});
        QVERIFY(!value.isValid());
        QCOMPARE(value.index(), fw.index());
        QVERIFY(value.name().isEmpty());
        QCOMPARE(value.type(), 0);
        QVERIFY(value.dnsServers().isEmpty());
        // It comes back when the adapter is listed again, with the new facts.
        value.refresh(NetworkInterface::classify({record(fw.index(), "new", 71)}, {fw}, 255));
        QVERIFY(value.isValid());
        QCOMPARE(value.name(), QStringLiteral("new"));
        QCOMPARE(value.type(), 2);
    }

    void gatewayIsTheFirstDefaultRowInTableOrder()
    {
        const QNetworkInterface fw = someFrameworkInterface();
        const auto list = NetworkInterface::classify({record(fw.index(), "eth0", 6)}, {fw}, 255);
        // As the kernel lists them: the lower metric first.
        std::vector<platform::RouteRecord> rows{
            row(0xC6336400, 0xFFFFFF00, 0, fw.index(), 0),                 // 198.51.100.0/24
            row(0, 0, 0xC6336403, fw.index(), 50),                         // via .3, metric 50
            row(0, 0, 0xC6336402, fw.index(), 100),                        // via .2, metric 100
        };
        platform::sortRoutes(&rows);
        const QList<Route> table = NetworkInterface::routes(rows, list);
        QCOMPARE(table.size(), 3);
        QCOMPARE(table[0].nextHop, QHostAddress("198.51.100.2"));
        QCOMPARE(table[0].metric, 100u);
        QCOMPARE(table[2].destination, QHostAddress("198.51.100.0"));
        QCOMPARE(table[2].mask, QHostAddress("255.255.255.0"));
        QCOMPARE(table[2].interface.name(), QStringLiteral("eth0"));
        QCOMPARE(NetworkInterface::defaultGateway(table), QHostAddress("198.51.100.2"));
    }

    void gatewayIgnoresTheMaskAndNeedsADefaultRow()
    {
        // Destination 0.0.0.0 decides; the mask is not examined.
        const QList<Route> odd = NetworkInterface::routes(
            {row(0xC0A83300, 0xFFFFFF00, 0, 1, 0), row(0, 0xFF000000, 0xC0A83301, 1, 0)}, {});
        QCOMPARE(NetworkInterface::defaultGateway(odd), QHostAddress("192.168.51.1"));
        const QList<Route> none = NetworkInterface::routes({row(0xC0A83300, 0xFFFFFF00, 0, 1, 0)}, {});
        QVERIFY(NetworkInterface::defaultGateway(none).isNull());
        QVERIFY(NetworkInterface::defaultGateway({}).isNull());
    }

    void rowsOfUnenumeratedAdaptersHaveAnEmptyInterface()
    {
        const QList<Route> table = NetworkInterface::routes({row(0, 0, 0xCB007101, unknownIndex(), 0)}, {});
        QCOMPARE(table.size(), 1);
        QVERIFY(!table[0].interface.isValid());
        QCOMPARE(table[0].interface.index(), 0);
    }

    void tableOrderPutsTheMetricLast()
    {
        std::vector<platform::RouteRecord> rows{
            row(0xCB007100, 0xFFFFFF00, 0, 2, 5), row(0, 0, 0xC6336402, 3, 1), row(0, 0, 0xC6336402, 2, 9),
            row(0xCB007100, 0xFFFFFF80, 0, 2, 0), row(0, 0, 0xC6336402, 2, 1),
        };
        platform::sortRoutes(&rows);
        QCOMPARE(rows[0].ifindex, 2);
        QCOMPARE(rows[0].metric, 1u);
        QCOMPARE(rows[1].metric, 9u);
        QCOMPARE(rows[2].ifindex, 3);
        QCOMPARE(rows[3].mask, 0xFFFFFF00u);
        QCOMPARE(rows[4].mask, 0xFFFFFF80u);
    }

    void travelsAsMetaType()
    {
        NetworkInterface::registerMetaType();
        QVERIFY(QMetaType::type("NetworkInterface") != QMetaType::UnknownType);
        const QNetworkInterface fw = someFrameworkInterface();
        const auto list = NetworkInterface::classify({record(fw.index(), "eth0", 6)}, {fw}, 255);
        const QVariant v = QVariant::fromValue(list[0]);
        QCOMPARE(v.value<NetworkInterface>().name(), QStringLiteral("eth0"));
    }

    void refusesNonIpv4Addresses()
    {
        NetworkInterface value;
        QVERIFY(!value.addAddress(QHostAddress("fe80::1"), QHostAddress("255.255.255.0")));
        QVERIFY(!value.addAddress(QHostAddress("192.168.51.1"), QHostAddress()));
        QVERIFY(!value.removeAddress(QHostAddress("fe80::1")));
        QVERIFY(value.addedAddresses().isEmpty());
        QVERIFY(NetworkInterface::routes(NetworkInterface()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestNetworkInterface)
#include "tst_networkinterface.moc"
