// SPDX-License-Identifier: GPL-3.0-or-later
// The worker's supervision end to end: tarnwick-headless while its interfaces change under it.
//
// Topology: phone eth0 — lan0 [hotspot] pub0 — eth0 upstream. The hotspot shares from pub0
// (198.51.100.2) to lan0, in router mode unless a case says bridge (the phone then holds
// 198.51.100.77 of the upstream network itself); the upstream host holds 198.51.100.1 and
// 203.0.113.1 (so it answers ARP for both gateways) and runs busybox httpd, whose peer
// script prints the address a request came from. The phone gets its lease from the hotspot
// with busybox udhcpc and reaches the upstream only through the hotspot's translation.
#include "tests/lab/lab.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString kGateway = QStringLiteral("192.168.51.1");
const QString kServer = QStringLiteral("203.0.113.1");

const char *kUdhcpcScript = R"(#!/bin/sh
case "$1" in bound|renew)
  ip addr replace "$ip/$mask" dev "$interface"
  ip route replace default via "$router" ;;
esac
exit 0
)";

const char *kPeerScript = R"(#!/bin/sh
printf 'Content-Type: text/plain\r\n\r\n%s\n' "$REMOTE_ADDR"
)";

} // namespace

class TestSupervisionEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void privateSideLossStops_data();
    void privateSideLossStops();
    void publicLinkLossRestarts_data();
    void publicLinkLossRestarts();
    void newPublicAddressIsTranslatedTo();

private:
    void writeFile(const QString &name, const QByteArray &content, bool executable);
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void startRunner(const QByteArray &mode);
    // Router mode: a lease from the hotspot; bridge mode: an address of the upstream network.
    bool configurePhone(const QByteArray &mode);
    // Waits for the line to appear at or after output position `from`; its position or -1.
    int waitForLine(const QByteArray &line, int timeoutMs, int from = 0);
    QByteArrayList stateLinesFrom(int from) const;
    bool hasAddress(const QString &host, const QString &ifname, const QString &address);
    QStringList tapNames(const QString &host);
    bool phoneGetsLease();
    // The address the upstream server saw the phone's request come from, or empty.
    QByteArray sourceSeenUpstream();

    std::unique_ptr<Lab> m_lab;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_phone, m_hotspot, m_upstream;
    QProcess *m_runner = nullptr;
    QByteArray m_output;
};

void TestSupervisionEndToEnd::writeFile(const QString &name, const QByteArray &content, bool executable)
{
    QFile file(path(name));
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    if (executable)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestSupervisionEndToEnd::init()
{
    QString why;
    if (!Lab::available(&why))
        QSKIP(qPrintable(why));
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    writeFile("udhcpc.sh", kUdhcpcScript, true);
    writeFile("www/cgi-bin/peer", kPeerScript, true);
    m_lab = std::make_unique<Lab>();
    m_phone = m_lab->addHost("phone");
    m_hotspot = m_lab->addHost("hotspot");
    m_upstream = m_lab->addHost("upstream");
    QVERIFY(!m_phone.isEmpty() && !m_hotspot.isEmpty() && !m_upstream.isEmpty());
    m_lab->addLink(m_phone, "eth0", m_hotspot, "lan0");
    m_lab->addLink(m_hotspot, "pub0", m_upstream, "eth0");
    m_lab->addAddress(m_hotspot, "pub0", "198.51.100.2/24");
    m_lab->addAddress(m_upstream, "eth0", "198.51.100.1/24");
    m_lab->addAddress(m_upstream, "eth0", kServer + "/24");
    m_lab->addRoute(m_hotspot, {"default", "via", "198.51.100.1"});
    m_lab->writeEtcFile(m_hotspot, "resolv.conf", "nameserver 198.51.100.1\n");
    m_lab->start(m_upstream, {"busybox", "httpd", "-f", "-p", "0.0.0.0:80", "-h", path("www")});
    m_runner = nullptr;
    m_output.clear();
}

void TestSupervisionEndToEnd::cleanup()
{
    if (m_runner && m_runner->state() != QProcess::NotRunning)
        Lab::stop(m_runner, 10000);
    m_runner = nullptr;
    m_lab.reset();
    m_dir.reset();
}

void TestSupervisionEndToEnd::startRunner(const QByteArray &mode)
{
    writeFile("config/Orrinsby/Tarnwick.conf",
              "[options]\nnetworkMode=" + mode + "\npublicNetworkInterfaceName=pub0\nprivateNetworkInterfaceName=lan0\n",
              false);
    m_runner = m_lab->start(m_hotspot, {"env", "XDG_CONFIG_HOME=" + path("config"), TARNWICK_HEADLESS});
    QVERIFY2(waitForLine("state Started", 30000) >= 0, m_output.constData());
}

int TestSupervisionEndToEnd::waitForLine(const QByteArray &line, int timeoutMs, int from)
{
    QElapsedTimer t;
    t.start();
    while (m_output.indexOf(line + '\n', from) < 0 && t.elapsed() < timeoutMs) {
        if (m_runner->state() == QProcess::NotRunning) {
            m_output += m_runner->readAllStandardOutput();
            break;
        }
        m_runner->waitForReadyRead(100);
        m_output += m_runner->readAllStandardOutput();
    }
    return m_output.indexOf(line + '\n', from);
}

QByteArrayList TestSupervisionEndToEnd::stateLinesFrom(int from) const
{
    QByteArrayList states;
    for (const QByteArray &line : m_output.mid(from).split('\n'))
        if (line.startsWith("state "))
            states << line.mid(6);
    return states;
}

bool TestSupervisionEndToEnd::hasAddress(const QString &host, const QString &ifname, const QString &address)
{
    const QByteArray json = m_lab->ip(host, {"-j", "-4", "addr", "show", "dev", ifname}).out;
    for (const QJsonValue &link : QJsonDocument::fromJson(json).array())
        for (const QJsonValue &entry : link.toObject().value("addr_info").toArray())
            if (entry.toObject().value("local").toString() == address)
                return true;
    return false;
}

// The packet engines' TAP devices: present exactly while the engines are bound.
QStringList TestSupervisionEndToEnd::tapNames(const QString &host)
{
    QStringList names;
    const QByteArray json = m_lab->ip(host, {"-j", "link", "show"}).out;
    for (const QJsonValue &link : QJsonDocument::fromJson(json).array()) {
        const QString name = link.toObject().value("ifname").toString();
        if (name.startsWith(QLatin1String("twk")))
            names << name;
    }
    return names;
}

bool TestSupervisionEndToEnd::phoneGetsLease()
{
    const Lab::Result r = m_lab->run(m_phone, {"busybox", "udhcpc", "-i", "eth0", "-n", "-q", "-f", "-t", "5", "-T",
                                               "1", "-s", path("udhcpc.sh")}, 20000);
    return r.exitCode == 0 && (r.out + r.err).contains("obtained from " + kGateway.toLatin1());
}

bool TestSupervisionEndToEnd::configurePhone(const QByteArray &mode)
{
    if (mode == "router")
        return phoneGetsLease();
    return m_lab->ip(m_phone, {"addr", "add", "198.51.100.77/24", "dev", "eth0"}).exitCode == 0
        && m_lab->ip(m_phone, {"route", "add", "default", "via", "198.51.100.1"}).exitCode == 0;
}

QByteArray TestSupervisionEndToEnd::sourceSeenUpstream()
{
    const Lab::Result r = m_lab->run(m_phone, {"curl", "-sS", "--max-time", "10", "--retry", "3",
                                               "--retry-all-errors", "--retry-delay", "1",
                                               "http://" + kServer + "/cgi-bin/peer"}, 30000);
    return r.exitCode == 0 ? r.out.trimmed() : QByteArray("failed: " + r.err);
}

void TestSupervisionEndToEnd::privateSideLossStops_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QStringList>("command");
    QTest::newRow("private veth deleted") << QStringLiteral("hotspot") << QStringList{"link", "del", "lan0"};
    QTest::newRow("private link down") << QStringLiteral("hotspot") << QStringList{"link", "set", "lan0", "down"};
    QTest::newRow("carrier lost") << QStringLiteral("phone") << QStringList{"link", "set", "eth0", "down"};
}

// The private side is never rebuilt: the worker stops everything and the runner ends.
void TestSupervisionEndToEnd::privateSideLossStops()
{
    QFETCH(QString, where);
    QFETCH(QStringList, command);
    startRunner("router");
    QVERIFY(hasAddress(m_hotspot, "lan0", kGateway));
    QVERIFY(phoneGetsLease());
    QVERIFY(tapNames(m_hotspot).size() >= 2);
    const int started = m_output.size();

    QCOMPARE(m_lab->ip(where == "phone" ? m_phone : m_hotspot, command).exitCode, 0);
    QVERIFY2(waitForLine("state Stopped", 12000, started) >= 0, m_output.constData());
    QVERIFY(m_runner->waitForFinished(10000));
    m_output += m_runner->readAllStandardOutput();
    QCOMPARE(m_runner->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_runner->exitCode(), 0);
    QCOMPARE(stateLinesFrom(started), (QByteArrayList{"Stopping", "Stopped"}));
    QVERIFY2(!m_output.contains("error "), m_output.constData());
    QVERIFY(tapNames(m_hotspot).isEmpty());
    QVERIFY(!hasAddress(m_hotspot, "lan0", kGateway));
    if (command.contains("del"))
        QVERIFY(m_lab->ip(m_hotspot, {"link", "show", "dev", "lan0"}).exitCode != 0);
}

void TestSupervisionEndToEnd::publicLinkLossRestarts_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<bool>("carrier");
    QTest::newRow("router, carrier lost") << QByteArray("router") << true;
    QTest::newRow("router, administratively down") << QByteArray("router") << false;
    QTest::newRow("bridge, carrier lost") << QByteArray("bridge") << true;
}

// The Internet side waits with NoInternet and its engines unbound until the link is back,
// then binds again; the private side and the phone's lease stay throughout.
void TestSupervisionEndToEnd::publicLinkLossRestarts()
{
    QFETCH(QByteArray, mode);
    QFETCH(bool, carrier);
    startRunner(mode);
    QVERIFY(configurePhone(mode));
    const QByteArray source = mode == "router" ? "198.51.100.2" : "198.51.100.77";
    QCOMPARE(sourceSeenUpstream(), source);
    const int started = m_output.size();

    const QString host = carrier ? m_upstream : m_hotspot;
    const QString link = carrier ? "eth0" : "pub0";
    QCOMPARE(m_lab->ip(host, {"link", "set", link, "down"}).exitCode, 0);
    const int restarting = waitForLine("state Restarting", 12000, started);
    QVERIFY2(restarting >= 0, m_output.constData());
    QVERIFY2(waitForLine("event NoInternet\nevent NoInternet", 5000, restarting) >= 0, m_output.constData());
    QVERIFY(tapNames(m_hotspot).isEmpty());
    QCOMPARE(hasAddress(m_hotspot, "lan0", kGateway), mode == "router");

    QCOMPARE(m_lab->ip(host, {"link", "set", link, "up"}).exitCode, 0);
    if (!carrier) // taking the link down removed the routes through it
        QCOMPARE(m_lab->ip(m_hotspot, {"route", "replace", "default", "via", "198.51.100.1"}).exitCode, 0);
    QVERIFY2(waitForLine("state Started", 15000, restarting) >= 0, m_output.constData());
    QCOMPARE(stateLinesFrom(started), (QByteArrayList{"Restarting", "ConfiguringInternet", "InternetConfigured",
                                                      "Started"}));
    QVERIFY(m_output.indexOf("event NoInternet\nevent Ready\nstate InternetConfigured\n", restarting) > 0);
    QVERIFY2(tapNames(m_hotspot).size() >= 2, qPrintable(tapNames(m_hotspot).join(' ')));
    QCOMPARE(sourceSeenUpstream(), source);
}

// After the restart the translation uses the new public address: the upstream server sees
// the phone's requests come from it.
void TestSupervisionEndToEnd::newPublicAddressIsTranslatedTo()
{
    startRunner("router");
    QVERIFY(phoneGetsLease());
    QCOMPARE(sourceSeenUpstream(), QByteArray("198.51.100.2"));
    const int started = m_output.size();

    m_lab->addAddress(m_hotspot, "pub0", "203.0.113.2/24");
    QCOMPARE(m_lab->ip(m_hotspot, {"addr", "del", "198.51.100.2/24", "dev", "pub0"}).exitCode, 0);
    QCOMPARE(m_lab->ip(m_hotspot, {"route", "replace", "default", "via", kServer}).exitCode, 0);
    const int restarting = waitForLine("state Restarting", 12000, started);
    QVERIFY2(restarting >= 0, m_output.constData());
    QVERIFY2(waitForLine("state Started", 10000, restarting) >= 0, m_output.constData());
    QCOMPARE(sourceSeenUpstream(), QByteArray("203.0.113.2"));
}

QTEST_GUILESS_MAIN(TestSupervisionEndToEnd)
#include "tst_supervisione2e.moc"
