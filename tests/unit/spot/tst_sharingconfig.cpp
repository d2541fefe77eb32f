// SPDX-License-Identifier: GPL-3.0-or-later
// The settings snapshot of one sharing run: sides, mode, address plan, network and UPnP role.
#include "spot/sharingconfig.h"

#include <QTemporaryDir>
#include <QtTest>

using Options = QMap<QString, QVariant>;

class TestSharingConfig : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void sides_data();
    void sides();
    void addresses_data();
    void addresses();
    void defaultsOfAnEmptyStore();
    void wirelessNetwork_data();
    void wirelessNetwork();
    void upnpFlags_data();
    void upnpFlags();
    void textUpToZero();

private:
    SharingConfig read(const Options &options);

    QTemporaryDir m_dir;
    int m_files = 0;
};

SharingConfig TestSharingConfig::read(const Options &options)
{
    QSettings store(m_dir.filePath(QString::number(++m_files) + ".conf"), QSettings::IniFormat);
    for (auto it = options.cbegin(); it != options.cend(); ++it)
        store.setValue("options/" + it.key(), it.value());
    store.sync();
    // Values read back from the file are texts, as the program's own store gives them.
    const QSettings reread(store.fileName(), QSettings::IniFormat);
    return SharingConfig::read(reread);
}

void TestSharingConfig::sides_data()
{
    QTest::addColumn<Options>("options");
    QTest::addColumn<bool>("sharing");
    QTest::addColumn<QString>("publicName");
    QTest::addColumn<bool>("accessPoint");
    QTest::addColumn<QString>("privateName");
    QTest::addColumn<int>("mode");

    const Options plain{{"publicNetworkInterfaceName", "eth0"}, {"privateNetworkInterfaceName", "eth1"}};
    QTest::newRow("two interfaces") << plain << true << "eth0" << false << "eth1" << 0;
    QTest::newRow("nosharing") << Options{{"publicNetworkInterfaceName", "nosharing"},
                                          {"privateNetworkInterfaceName", "eth1"}}
                               << false << "" << false << "eth1" << 0;
    QTest::newRow("NoSharing is a name") << Options{{"publicNetworkInterfaceName", "NoSharing"}}
                                         << true << "NoSharing" << false << "" << 0;
    QTest::newRow("accesspoint") << Options{{"publicNetworkInterfaceName", "eth0"},
                                            {"privateNetworkInterfaceName", "accesspoint"}}
                                 << true << "eth0" << true << "" << 0;
    QTest::newRow("AccessPoint is a name") << Options{{"privateNetworkInterfaceName", "AccessPoint"}}
                                           << true << "" << false << "AccessPoint" << 0;
    Options bridge = plain;
    bridge["networkMode"] = "bridge";
    QTest::newRow("bridge") << bridge << true << "eth0" << false << "eth1" << 1;
    bridge["networkMode"] = "Bridge";
    QTest::newRow("Bridge counts as router") << bridge << true << "eth0" << false << "eth1" << 0;
    bridge["networkMode"] = "switch";
    QTest::newRow("unknown mode is router") << bridge << true << "eth0" << false << "eth1" << 0;

    Options repeater = plain;
    repeater["wifiRepeaterEnabled"] = true;
    repeater["wifiRepeaterNetworkInterfaceName"] = "wlan1";
    repeater["networkMode"] = "router";
    QTest::newRow("repeater forces bridge and access point")
        << repeater << true << "wlan1" << true << "" << 1;
    repeater["publicNetworkInterfaceName"] = "nosharing";
    QTest::newRow("repeater ignores nosharing") << repeater << true << "wlan1" << true << "" << 1;
    repeater["wifiRepeaterEnabled"] = "false";
    QTest::newRow("repeater off by text") << repeater << false << "" << false << "eth1" << 0;
}

void TestSharingConfig::sides()
{
    QFETCH(Options, options);
    const SharingConfig config = read(options);
    QTEST(config.sharing, "sharing");
    QTEST(config.publicName, "publicName");
    QTEST(config.useAccessPoint, "accessPoint");
    QTEST(config.privateName, "privateName");
    QTEST(config.mode, "mode");
}

void TestSharingConfig::addresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // empty: the null address

    QTest::newRow("plain") << "192.168.51.1" << "192.168.51.1";
    QTest::newRow("edges") << "0.0.0.0" << "0.0.0.0";
    QTest::newRow("broadcast") << "255.255.255.255" << "255.255.255.255";
    QTest::newRow("leading zeros") << "010.001.002.003" << "10.1.2.3";
    QTest::newRow("surrounding blanks") << " 203.0.113.53 " << "203.0.113.53";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("three parts") << "10.1.2" << "";
    QTest::newRow("five parts") << "10.1.2.3.4" << "";
    QTest::newRow("part above 255") << "10.1.2.256" << "";
    QTest::newRow("empty part") << "10..2.3" << "";
    QTest::newRow("trailing dot") << "10.1.2.3." << "";
    QTest::newRow("sign") << "+10.1.2.3" << "";
    QTest::newRow("negative") << "-1.1.2.3" << "";
    QTest::newRow("four digits") << "1000.1.2.3" << "";
    QTest::newRow("hexadecimal") << "0x0a.1.2.3" << "";
    QTest::newRow("single number") << "167772161" << "";
    QTest::newRow("IPv6") << "::1" << "";
    QTest::newRow("host name") << "dns.example" << "";
    QTest::newRow("inner blank") << "10.1. 2.3" << "";
}

// Every dotted-quad option goes through the same parser; the DNS server has no default.
void TestSharingConfig::addresses()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const QHostAddress wanted = expected.isEmpty() ? QHostAddress() : QHostAddress(expected);
    QCOMPARE(SharingConfig::parseAddress(text), wanted);
    const SharingConfig config = read({{"customDnsServer", text}, {"networkAddress", text},
                                       {"networkSubnetMask", text}, {"dhcpPoolStart", text}, {"dhcpPoolEnd", text}});
    QCOMPARE(config.customDnsServer, wanted);
    QCOMPARE(config.networkAddress, wanted);
    QCOMPARE(config.subnetMask, wanted);
    QCOMPARE(config.poolStart, wanted);
    QCOMPARE(config.poolEnd, wanted);
}

void TestSharingConfig::defaultsOfAnEmptyStore()
{
    const SharingConfig config = read({});
    QCOMPARE(config.repeater, false);
    QCOMPARE(config.sharing, true);
    QCOMPARE(config.publicName, QString()); // not chosen: the worker's configuration error
    QCOMPARE(config.useAccessPoint, false);
    QCOMPARE(config.mode, int(SharingConfig::Router));
    QCOMPARE(config.networkAddress, QHostAddress("192.168.51.1"));
    QCOMPARE(config.subnetMask, QHostAddress("255.255.255.0"));
    QCOMPARE(config.dhcpEnabled, true);
    QCOMPARE(config.poolStart, QHostAddress("192.168.51.10"));
    QCOMPARE(config.poolEnd, QHostAddress("192.168.51.50"));
    QCOMPARE(config.upnpEnabled, true);
    QCOMPARE(config.upnpForwardEnabled, true);
    QCOMPARE(config.customDnsEnabled, false);
    QVERIFY(config.customDnsServer.isNull());
    QCOMPARE(config.networkName, QByteArray("Tarnwick"));
    QCOMPARE(config.networkKey, QByteArray());
    QCOMPARE(config.security, int(SharingConfig::Wpa2Security));
}

void TestSharingConfig::wirelessNetwork_data()
{
    QTest::addColumn<Options>("options");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("security");

    const QString cafe = QString::fromUtf8("Caf\xc3\xa9");
    QTest::newRow("own network, UTF-8")
        << Options{{"networkName", cafe}, {"networkKey", "secret99"}, {"networkSecurity", "WPA2PSK"}}
        << QByteArray("Caf\xc3\xa9") << QByteArray("secret99") << 2;
    QTest::newRow("none") << Options{{"networkSecurity", "none"}} << QByteArray("Tarnwick") << QByteArray() << 0;
    QTest::newRow("WEP") << Options{{"networkSecurity", "WEP"}} << QByteArray("Tarnwick") << QByteArray() << 1;
    QTest::newRow("wep is not WEP") << Options{{"networkSecurity", "wep"}} << QByteArray("Tarnwick") << QByteArray()
                                    << 2;
    QTest::newRow("None is not none") << Options{{"networkSecurity", "None"}} << QByteArray("Tarnwick")
                                      << QByteArray() << 2;
    QTest::newRow("empty security") << Options{{"networkSecurity", ""}} << QByteArray("Tarnwick") << QByteArray()
                                    << 2;
    QTest::newRow("repeater repeats the upstream network")
        << Options{{"wifiRepeaterEnabled", true}, {"networkName", "Mine"}, {"networkKey", "mykey123"},
                   {"wifiRepeaterNetworkName", "Upstream"}, {"wifiRepeaterNetworkKey", "theirkey"}}
        << QByteArray("Upstream") << QByteArray("theirkey") << 2;
}

void TestSharingConfig::wirelessNetwork()
{
    QFETCH(Options, options);
    const SharingConfig config = read(options);
    QTEST(config.networkName, "name");
    QTEST(config.networkKey, "key");
    QTEST(config.security, "security");
}

void TestSharingConfig::upnpFlags_data()
{
    QTest::addColumn<Options>("options");
    QTest::addColumn<int>("flags");
    QTest::newRow("router, both") << Options{} << 3;
    QTest::newRow("router, no forwarding") << Options{{"upnpForwardEnabled", false}} << 2;
    QTest::newRow("router, UPnP off") << Options{{"upnpEnabled", false}} << 0;
    QTest::newRow("router, UPnP off, forwarding on") << Options{{"upnpEnabled", false}, {"upnpForwardEnabled", true}}
                                                     << 0;
    QTest::newRow("bridge") << Options{{"networkMode", "bridge"}} << 1;
    QTest::newRow("bridge, UPnP off") << Options{{"networkMode", "bridge"}, {"upnpEnabled", false}} << 1;
    QTest::newRow("bridge, nothing") << Options{{"networkMode", "bridge"}, {"upnpEnabled", false},
                                                {"upnpForwardEnabled", false}} << 1;
    QTest::newRow("repeater") << Options{{"wifiRepeaterEnabled", true}, {"upnpEnabled", false}} << 1;
}

void TestSharingConfig::upnpFlags()
{
    QFETCH(Options, options);
    QTEST(read(options).upnpFlags(), "flags");
}

void TestSharingConfig::textUpToZero()
{
    QCOMPARE(SharingConfig::utf8Text(QByteArray("Caf\xc3\xa9\0tail", 9)), QString::fromUtf8("Caf\xc3\xa9"));
    QCOMPARE(SharingConfig::utf8Text(QByteArray("\0x", 2)), QString());
    QCOMPARE(SharingConfig::localText(QByteArray("net\0work", 8)), QStringLiteral("net"));
    QCOMPARE(SharingConfig::localText(QByteArray("network")), QStringLiteral("network"));
}

QTEST_GUILESS_MAIN(TestSharingConfig)
#include "tst_sharingconfig.moc"
