// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing the sides of a run, and the interface list the worker offers.
#include "spot/interfaceoffer.h"
#include "spot/sharingplan.h"

#include <QtTest>

namespace {

// Interfaces need a framework interface behind them, so every value made here stands on
// one of this machine's (loopback at least) and differs by its adapter record.
QNetworkInterface frameworkInterface(int position = 0)
{
    const auto all = QNetworkInterface::allInterfaces();
    return position < all.size() ? all.at(position) : QNetworkInterface();
}

NetworkInterface make(const QString &name, int hardwareType, const QString &description = QString(),
                      int position = 0)
{
    const QNetworkInterface fw = frameworkInterface(position);
    platform::AdapterRecord r;
    r.index = fw.index();
    r.name = name;
    r.description = description.isEmpty() ? name + QStringLiteral(" adapter") : description;
    r.hardwareType = hardwareType;
    const auto list = NetworkInterface::classify({r}, {fw}, NetworkInterface::EthernetAndWireless);
    return list.isEmpty() ? NetworkInterface() : list.first();
}

SharingConfig config(const QString &publicName, const QString &privateName, bool repeater = false)
{
    SharingConfig c;
    c.repeater = repeater;
    c.sharing = repeater || publicName != QLatin1String("nosharing");
    c.publicName = c.sharing ? publicName : QString();
    c.useAccessPoint = repeater || privateName == QLatin1String("accesspoint");
    c.privateName = c.useAccessPoint ? QString() : privateName;
    return c;
}

} // namespace

class TestSharingPlan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!frameworkInterface().isValid())
            QSKIP("the framework lists no interface here");
    }
    void choosesSides_data();
    void choosesSides();
    void offerDropsUnlistedWireless();
    void offerChangeIgnoresAddresses();
    void directAdapterByDescription_data();
    void directAdapterByDescription();
};

void TestSharingPlan::choosesSides_data()
{
    QTest::addColumn<QString>("publicName");
    QTest::addColumn<QString>("privateName");
    QTest::addColumn<bool>("repeater");
    QTest::addColumn<bool>("direct");
    QTest::addColumn<bool>("hosted");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("chosenPublic");
    QTest::addColumn<QString>("chosenPrivate");

    QTest::newRow("wired") << "eth0" << "eth1" << false << true << true << true << int(WiredInterface) << "eth0"
                           << "eth1";
    QTest::newRow("names ignore case") << "ETH0" << "Eth1" << false << false << false << true
                                       << int(WiredInterface) << "eth0" << "eth1";
    QTest::newRow("wireless private is ad hoc") << "eth0" << "wlan0" << false << false << false << true
                                                << int(AdHocNetwork) << "eth0" << "wlan0";
    QTest::newRow("nosharing needs no public") << "nosharing" << "eth1" << false << false << false << true
                                               << int(WiredInterface) << "" << "eth1";
    QTest::newRow("unknown public") << "eth9" << "eth1" << false << true << true << false << 0 << "" << "";
    QTest::newRow("public not chosen") << "" << "eth1" << false << true << true << false << 0 << "" << "";
    QTest::newRow("unknown private") << "eth0" << "eth9" << false << true << true << false << 0 << "" << "";
    QTest::newRow("both access points: Wi-Fi Direct") << "eth0" << "accesspoint" << false << true << true << true
                                                      << int(DirectAccessPoint) << "eth0" << "";
    QTest::newRow("hosted network only") << "eth0" << "accesspoint" << false << false << true << true
                                         << int(HostedNetwork) << "eth0" << "";
    QTest::newRow("no access point") << "eth0" << "accesspoint" << false << false << false << false << 0 << ""
                                     << "";
    QTest::newRow("nosharing, no access point") << "nosharing" << "accesspoint" << false << false << false
                                                << false << 0 << "" << "";
    QTest::newRow("repeater, private key not read") << "wlan0" << "eth1" << true << false << true << true
                                                    << int(HostedNetwork) << "wlan0" << "";
    QTest::newRow("repeater, no access point") << "wlan0" << "eth1" << true << false << false << false << 0 << ""
                                               << "";
    QTest::newRow("repeater, unknown adapter") << "wlan9" << "" << true << true << true << false << 0 << "" << "";
}

void TestSharingPlan::choosesSides()
{
    QFETCH(QString, publicName);
    QFETCH(QString, privateName);
    QFETCH(bool, repeater);
    QFETCH(bool, direct);
    QFETCH(bool, hosted);
    const QList<NetworkInterface> offered{make("eth0", 6), make("eth1", 6), make("wlan0", 71)};
    const SharingPlan plan = SharingPlan::choose(config(publicName, privateName, repeater), offered, direct, hosted);
    QTEST(plan.valid, "valid");
    if (!plan.valid)
        return;
    QTEST(int(plan.kind), "kind");
    QTEST(plan.publicInterface.name(), "chosenPublic");
    QTEST(plan.privateInterface.name(), "chosenPrivate");
}

void TestSharingPlan::offerDropsUnlistedWireless()
{
    const NetworkInterface wired = make("eth0", 6);
    const NetworkInterface radio = make("wlan0", 71);
    QCOMPARE(radio.type(), int(NetworkInterface::Wireless));

    const QList<NetworkInterface> alone = InterfaceOffer::build({wired, radio}, {});
    QCOMPARE(alone.size(), 1);
    QCOMPARE(alone.first().name(), QStringLiteral("eth0"));

    const QList<NetworkInterface> listed = InterfaceOffer::build({radio, wired}, {radio});
    QCOMPARE(listed.size(), 2);
    QCOMPARE(listed.at(0).name(), QStringLiteral("wlan0")); // the filter's order is kept
    QCOMPARE(listed.at(1).name(), QStringLiteral("eth0"));
    QVERIFY(InterfaceOffer::build({}, {radio}).isEmpty()); // listed but not filterable
}

void TestSharingPlan::offerChangeIgnoresAddresses()
{
    const NetworkInterface a = make("eth0", 6);
    const NetworkInterface renamed = make("other", 71, "a new description");
    QVERIFY(!InterfaceOffer::differs({}, {}));
    QVERIFY(!InterfaceOffer::differs({a}, {a}));
    QVERIFY(!InterfaceOffer::differs({a}, {renamed})); // same index, same flags
    QVERIFY(InterfaceOffer::differs({a}, {}));
    QVERIFY(InterfaceOffer::differs({a}, {a, a}));
    if (!frameworkInterface(1).isValid())
        QSKIP("only one framework interface here: no second index to compare with");
    const NetworkInterface b = make("eth1", 6, QString(), 1);
    QVERIFY(InterfaceOffer::differs({a, b}, {b, a}));
    QVERIFY(!InterfaceOffer::differs({a, b}, {a, b}));
}

void TestSharingPlan::directAdapterByDescription_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<bool>("direct");
    QTest::newRow("virtual adapter") << "Microsoft Wi-Fi Direct Virtual Adapter" << true;
    QTest::newRow("exact") << "Wi-Fi Direct" << true;
    QTest::newRow("lower case") << "wi-fi direct adapter" << false;
    QTest::newRow("no hyphen") << "WiFi Direct" << false;
    QTest::newRow("plain wireless") << "Intel Wi-Fi 6 AX201" << false;
}

void TestSharingPlan::directAdapterByDescription()
{
    QFETCH(QString, description);
    const QList<NetworkInterface> list{make("eth0", 6), make("p2p0", 71, description)};
    QTEST(InterfaceOffer::hasDirectAdapter(list), "direct");
    QVERIFY(!InterfaceOffer::hasDirectAdapter({}));
}

QTEST_GUILESS_MAIN(TestSharingPlan)
#include "tst_sharingplan.moc"
