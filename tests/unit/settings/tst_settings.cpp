// SPDX-License-Identifier: GPL-3.0-or-later
// The sharing options and network settings against a private, initially empty store.
#include "app/networksettings.h"
#include "app/sharingoptions.h"

#include <QCoreApplication>
#include <QMetaProperty>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Both owners behind one pointer, chosen by the key's group.
std::unique_ptr<QObject> makeOwner(const QString &group)
{
    if (group == QLatin1String("options"))
        return std::make_unique<SharingOptions>();
    return std::make_unique<NetworkSettings>();
}

QMetaProperty metaProperty(const QObject &owner, const char *name)
{
    const QMetaObject *meta = owner.metaObject();
    return meta->property(meta->indexOfProperty(name));
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstRunDefaults_data();
    void firstRunDefaults();
    void writingDefaultWritesNothing_data();
    void writingDefaultWritesNothing();
    void changeIsStoredAndSignalledOnce_data();
    void changeIsStoredAndSignalledOnce();
    void stringsCompareCaseSensitively();
    void readsFollowOtherHandles();
    void portsKeepLowSixteenBits_data();
    void portsKeepLowSixteenBits();
    void portWriteComparesSixteenBits();

private:
    static void addKeyColumns();

    std::unique_ptr<QTemporaryDir> m_storeDir;
};

void TestSettings::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Orrinsby"));
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
}

// Every test starts on a first run: a fresh, empty store directory.
void TestSettings::init()
{
    m_storeDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_storeDir->isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_storeDir->path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_storeDir->path());
    QVERIFY(QSettings().allKeys().isEmpty());
}

void TestSettings::cleanup()
{
    m_storeDir.reset();
}

void TestSettings::addKeyColumns()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("name");
}

void TestSettings::firstRunDefaults_data()
{
    addKeyColumns();
    QTest::addColumn<QVariant>("expected");
    const QString o = QStringLiteral("options");
    const QString n = QStringLiteral("networkSettings");
    const QVariant empty = QString();
    auto row = [](const QString &group, const char *name, const QVariant &expected) {
        QTest::addRow("%s/%s", qPrintable(group), name) << group << QString::fromLatin1(name) << expected;
    };
    row(o, "publicNetworkInterfaceName", empty);
    row(o, "privateNetworkInterfaceName", empty);
    row(o, "runningInterfaces", true);
    row(o, "networkName", QStringLiteral("Tarnwick"));
    row(o, "networkSecurity", QStringLiteral("WPA2PSK"));
    row(o, "networkKey", empty);
    row(o, "wifiRepeaterEnabled", false);
    row(o, "wifiRepeaterNetworkInterfaceName", empty);
    row(o, "wifiRepeaterNetworkName", empty);
    row(o, "wifiRepeaterNetworkKey", empty);
    row(o, "networkMode", QStringLiteral("router"));
    row(o, "networkAddress", QStringLiteral("192.168.51.1"));
    row(o, "networkSubnetMask", QStringLiteral("255.255.255.0"));
    row(o, "dhcpEnabled", true);
    row(o, "dhcpPoolStart", QStringLiteral("192.168.51.10"));
    row(o, "dhcpPoolEnd", QStringLiteral("192.168.51.50"));
    row(o, "upnpEnabled", true);
    row(o, "upnpForwardEnabled", true);
    row(o, "customDnsServerEnabled", false);
    row(o, "customDnsServer", empty);
    row(n, "secureConnectionEnabled", true);
    row(n, "proxyMode", QStringLiteral("auto"));
    row(n, "httpProxyHost", empty);
    row(n, "httpProxyPort", QVariant::fromValue<quint16>(3128));
    row(n, "socks5ProxyHost", empty);
    row(n, "socks5ProxyPort", QVariant::fromValue<quint16>(1080));
    row(n, "proxyUsername", empty);
    row(n, "proxyPassword", empty);
}

// Read through the property system, so the names the pages bind to are checked as well.
void TestSettings::firstRunDefaults()
{
    QFETCH(QString, group);
    QFETCH(QString, name);
    QFETCH(QVariant, expected);
    const auto owner = makeOwner(group);
    const QMetaProperty property = metaProperty(*owner, qPrintable(name));
    QVERIFY2(property.isValid(), "no such property");
    QVERIFY(property.isWritable());
    QVERIFY(property.hasNotifySignal());
    QCOMPARE(property.notifySignal().name(), (name + QStringLiteral("Changed")).toLatin1());
    QCOMPARE(property.notifySignal().parameterCount(), 0);
    const QVariant value = property.read(owner.get());
    QCOMPARE(value.userType(), expected.userType());
    QCOMPARE(value, expected);
}

void TestSettings::writingDefaultWritesNothing_data()
{
    addKeyColumns();
    QTest::addColumn<QVariant>("defaultValue");
    QTest::newRow("networkName") << "options" << "networkName" << QVariant(QStringLiteral("Tarnwick"));
    QTest::newRow("networkKey") << "options" << "networkKey" << QVariant(QString());
    QTest::newRow("dhcpEnabled") << "options" << "dhcpEnabled" << QVariant(true);
    QTest::newRow("wifiRepeaterEnabled") << "options" << "wifiRepeaterEnabled" << QVariant(false);
    QTest::newRow("proxyMode") << "networkSettings" << "proxyMode" << QVariant(QStringLiteral("auto"));
    QTest::newRow("secureConnectionEnabled") << "networkSettings" << "secureConnectionEnabled" << QVariant(true);
    QTest::newRow("httpProxyPort") << "networkSettings" << "httpProxyPort" << QVariant::fromValue<quint16>(3128);
    QTest::newRow("socks5ProxyPort") << "networkSettings" << "socks5ProxyPort" << QVariant::fromValue<quint16>(1080);
}

void TestSettings::writingDefaultWritesNothing()
{
    QFETCH(QString, group);
    QFETCH(QString, name);
    QFETCH(QVariant, defaultValue);
    auto owner = makeOwner(group);
    const QMetaProperty property = metaProperty(*owner, qPrintable(name));
    QSignalSpy spy(owner.get(), property.notifySignal());
    QVERIFY(property.write(owner.get(), defaultValue));
    QCOMPARE(spy.count(), 0);
    owner.reset(); // the handle writes back whatever is pending
    QSettings store;
    QVERIFY(!store.contains(group + QLatin1Char('/') + name));
    QVERIFY(store.allKeys().isEmpty());
}

void TestSettings::changeIsStoredAndSignalledOnce_data()
{
    addKeyColumns();
    QTest::addColumn<QVariant>("value");
    auto row = [](const char *group, const char *name, const QVariant &value) {
        QTest::addRow("%s/%s", group, name) << QString::fromLatin1(group) << QString::fromLatin1(name) << value;
    };
    row("options", "publicNetworkInterfaceName", QStringLiteral("nosharing"));
    row("options", "privateNetworkInterfaceName", QStringLiteral("accesspoint"));
    row("options", "runningInterfaces", false);
    row("options", "networkName", QStringLiteral("Atelier"));
    row("options", "networkSecurity", QStringLiteral("WEP"));
    row("options", "networkKey", QStringLiteral("s3cret-key"));
    row("options", "wifiRepeaterEnabled", true);
    row("options", "wifiRepeaterNetworkInterfaceName", QStringLiteral("wlan1"));
    row("options", "wifiRepeaterNetworkName", QStringLiteral("Voisin"));
    row("options", "wifiRepeaterNetworkKey", QStringLiteral("12345678"));
    row("options", "networkMode", QStringLiteral("bridge"));
    row("options", "networkAddress", QStringLiteral("198.51.100.1"));
    row("options", "networkSubnetMask", QStringLiteral("255.255.0.0"));
    row("options", "dhcpEnabled", false);
    row("options", "dhcpPoolStart", QStringLiteral("198.51.100.20"));
    row("options", "dhcpPoolEnd", QStringLiteral("198.51.100.90"));
    row("options", "upnpEnabled", false);
    row("options", "upnpForwardEnabled", false);
    row("options", "customDnsServerEnabled", true);
    row("options", "customDnsServer", QStringLiteral("203.0.113.53"));
    row("networkSettings", "secureConnectionEnabled", false);
    row("networkSettings", "proxyMode", QStringLiteral("socks5"));
    row("networkSettings", "httpProxyHost", QStringLiteral("proxy.example"));
    row("networkSettings", "httpProxyPort", QVariant::fromValue<quint16>(8080));
    row("networkSettings", "socks5ProxyHost", QStringLiteral("socks.example"));
    row("networkSettings", "socks5ProxyPort", QVariant::fromValue<quint16>(65535));
    row("networkSettings", "proxyUsername", QStringLiteral("jeanne"));
    row("networkSettings", "proxyPassword", QStringLiteral("p@ss, word"));
}

// The key under which the value lands is the group plus the property name, and it survives
// the owner: a fresh handle opened after the owner is gone reads it back.
void TestSettings::changeIsStoredAndSignalledOnce()
{
    QFETCH(QString, group);
    QFETCH(QString, name);
    QFETCH(QVariant, value);
    const QString key = group + QLatin1Char('/') + name;
    auto owner = makeOwner(group);
    const QMetaProperty property = metaProperty(*owner, qPrintable(name));
    QSignalSpy spy(owner.get(), property.notifySignal());

    QVERIFY(property.write(owner.get(), value));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(property.read(owner.get()), value);
    QVERIFY(property.write(owner.get(), value));
    QCOMPARE(spy.count(), 1);

    owner.reset();
    QSettings store;
    QCOMPARE(store.allKeys(), QStringList{key});
    QVariant stored = store.value(key);
    QVERIFY(stored.convert(value.userType()));
    QCOMPARE(stored, value);

    // A new owner on the same store sees the value, and writing it again changes nothing.
    auto again = makeOwner(group);
    QCOMPARE(property.read(again.get()), value);
    QSignalSpy againSpy(again.get(), property.notifySignal());
    QVERIFY(property.write(again.get(), value));
    QCOMPARE(againSpy.count(), 0);
}

void TestSettings::stringsCompareCaseSensitively()
{
    SharingOptions options;
    QSignalSpy nameSpy(&options, &SharingOptions::networkNameChanged);
    options.setNetworkName(QStringLiteral("tarnwick"));
    QCOMPARE(nameSpy.count(), 1);
    QCOMPARE(QSettings().value(QStringLiteral("options/networkName")).toString(), QStringLiteral("tarnwick"));
    options.setNetworkName(QStringLiteral("Tarnwick"));
    QCOMPARE(nameSpy.count(), 2);
    QCOMPARE(options.networkName(), QStringLiteral("Tarnwick"));

    NetworkSettings network;
    QSignalSpy modeSpy(&network, &NetworkSettings::proxyModeChanged);
    network.setProxyMode(QStringLiteral("AUTO"));
    QCOMPARE(modeSpy.count(), 1);
    QCOMPARE(network.proxyMode(), QStringLiteral("AUTO"));
}

// No cached copies: what another handle writes (the worker, another owner) is read at once.
void TestSettings::readsFollowOtherHandles()
{
    SharingOptions options;
    NetworkSettings network;
    QCOMPARE(options.networkMode(), QStringLiteral("router"));
    QSettings other;
    other.setValue(QStringLiteral("options/networkMode"), QStringLiteral("bridge"));
    other.setValue(QStringLiteral("options/upnpEnabled"), false);
    other.setValue(QStringLiteral("networkSettings/proxyUsername"), QStringLiteral("paul"));
    QCOMPARE(options.networkMode(), QStringLiteral("bridge"));
    QCOMPARE(options.upnpEnabled(), false);
    QCOMPARE(network.proxyUsername(), QStringLiteral("paul"));
    other.remove(QStringLiteral("options/networkMode"));
    QCOMPARE(options.networkMode(), QStringLiteral("router"));
}

void TestSettings::portsKeepLowSixteenBits_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<quint16>("expected");
    QTest::newRow("in range") << QVariant(8080) << quint16(8080);
    QTest::newRow("2^16 + 4464") << QVariant(70000) << quint16(4464);
    QTest::newRow("2^16") << QVariant(65536) << quint16(0);
    QTest::newRow("minus one") << QVariant(-1) << quint16(65535);
    QTest::newRow("text of 70000") << QVariant(QStringLiteral("70000")) << quint16(4464);
    QTest::newRow("text of minus one") << QVariant(QStringLiteral("-1")) << quint16(65535);
    QTest::newRow("not a number") << QVariant(QStringLiteral("proxy")) << quint16(0);
}

// Whatever integer the store holds, the port getters return its low 16 bits, and they do so
// alike for the integer in memory and for its text read back from the file.
void TestSettings::portsKeepLowSixteenBits()
{
    QFETCH(QVariant, stored);
    QFETCH(quint16, expected);
    {
        QSettings other;
        other.setValue(QStringLiteral("networkSettings/httpProxyPort"), stored);
        other.setValue(QStringLiteral("networkSettings/socks5ProxyPort"), stored);
    }
    NetworkSettings network;
    QCOMPARE(network.httpProxyPort(), expected);
    QCOMPARE(network.socks5ProxyPort(), expected);
}

// Through the property system a wider integer is cut to 16 bits before it is compared and
// stored; a stored value that reads as the same 16 bits is left alone.
void TestSettings::portWriteComparesSixteenBits()
{
    NetworkSettings network;
    QSignalSpy spy(&network, &NetworkSettings::httpProxyPortChanged);
    QVERIFY(network.setProperty("httpProxyPort", 70000));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(network.httpProxyPort(), quint16(4464));
    QCOMPARE(QSettings().value(QStringLiteral("networkSettings/httpProxyPort")).toInt(), 4464);

    QSettings().setValue(QStringLiteral("networkSettings/socks5ProxyPort"), 65536 + 1080);
    QSignalSpy socksSpy(&network, &NetworkSettings::socks5ProxyPortChanged);
    network.setSocks5ProxyPort(1080);
    QCOMPARE(socksSpy.count(), 0);
    QCOMPARE(QSettings().value(QStringLiteral("networkSettings/socks5ProxyPort")).toInt(), 65536 + 1080);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
