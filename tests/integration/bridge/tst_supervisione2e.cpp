// SPDX-License-Identifier: GPL-3.0-or-later
// The worker's supervision end to end: tarnwick-headless while its interfaces change under it.
//
// Topology: phone eth0 — lan0 [hotspot] pub0 — eth0 upstream. The hotspot shares from pub0
// (198.51.100.2) to lan0, in router mode unless a case says bridge (the phone then holds
// 198.51.100.77 of the upstream network itself); the upstream host holds 198.51.100.1 and
// 203.0.113.1 (so it answers ARP for both gateways) and runs busybox httpd, whose peer
// script prints the address a request came from. The phone gets its lease from the hotspot
// with busybox udhcpc and reaches the upstream only through the hotspot's translation.
#include "tests/lab/dhcpclients.h"
#include "tests/lab/headlessrunner.h"
#include "tests/lab/hostfacts.h"
#include "tests/lab/lab.h"
#include "tests/lab/scratchdir.h"
#include "tests/lab/webserver.h"

#include <QtTest>

#include <memory>

namespace {

const QString kGateway = QStringLiteral("192.168.51.1");
const QString kServer = QStringLiteral("203.0.113.1");

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
    QString path(const QString &name) const { return m_dir->path(name); }
    void startRunner(const QByteArray &mode);
    // Router mode: a lease from the hotspot; bridge mode: an address of the upstream network.
    bool configurePhone(const QByteArray &mode);
    bool phoneGetsLease();
    // The address the upstream server saw the phone's request come from, or empty.
    QByteArray sourceSeenUpstream();

    std::unique_ptr<Lab> m_lab;
    std::unique_ptr<ScratchDir> m_dir;
    std::unique_ptr<HostFacts> m_facts;
    std::unique_ptr<HeadlessRunner> m_runner; // goes before the lab
    QString m_phone, m_hotspot, m_upstream;
};

void TestSupervisionEndToEnd::init()
{
    LAB_SKIP_UNLESS_AVAILABLE();
    m_dir = std::make_unique<ScratchDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(m_dir->write("udhcpc.sh", DhcpClients::udhcpcScript(DhcpClients::Setup::AddressAndRoute), true));
    m_lab = std::make_unique<Lab>();
    m_facts = std::make_unique<HostFacts>(*m_lab);
    Lab::SharingHosts hosts;
    QVERIFY(m_lab->addSharingHosts(hosts));
    m_phone = hosts.client;
    m_hotspot = hosts.hotspot;
    m_upstream = hosts.upstream;
    m_lab->addAddress(m_upstream, "eth0", kServer + "/24");
    m_lab->addRoute(m_hotspot, {"default", "via", "198.51.100.1"});
    m_lab->writeEtcFile(m_hotspot, "resolv.conf", "nameserver 198.51.100.1\n");
    QVERIFY(WebServer(*m_lab, *m_dir).start(m_upstream, "0.0.0.0"));
    m_runner = std::make_unique<HeadlessRunner>(*m_lab, m_hotspot, TARNWICK_HEADLESS);
}

void TestSupervisionEndToEnd::cleanup()
{
    m_runner.reset(); // a runner still running gets its stop sequence
    m_lab.reset();
    m_dir.reset();
}

void TestSupervisionEndToEnd::startRunner(const QByteArray &mode)
{
    QVERIFY(m_runner->start({{"networkMode", mode}, {"publicNetworkInterfaceName", "pub0"},
                             {"privateNetworkInterfaceName", "lan0"}}));
    QVERIFY2(m_runner->waitFor("state Started", 30000) >= 0, m_runner->output().constData());
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
    QVERIFY(m_facts->hasAddress(m_hotspot, "lan0", kGateway));
    QVERIFY(phoneGetsLease());
    QTRY_VERIFY_WITH_TIMEOUT(m_runner->engineTaps().size() >= 2, 3000); // a moment after Started
    const int started = m_runner->output().size();

    QCOMPARE(m_lab->ip(where == "phone" ? m_phone : m_hotspot, command).exitCode, 0);
    QVERIFY2(m_runner->waitFor("state Stopped", 12000, started) >= 0, m_runner->output().constData());
    // The runner ends by itself, normally and with exit code 0.
    QVERIFY2(m_runner->waitForExit(10000), m_runner->output().constData());
    QCOMPARE(m_runner->states(started), (QByteArrayList{"Stopping", "Stopped"}));
    QVERIFY2(!m_runner->output().contains("error "), m_runner->output().constData());
    QVERIFY(m_runner->engineTaps().isEmpty());
    QVERIFY(!m_facts->hasAddress(m_hotspot, "lan0", kGateway));
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
    const int started = m_runner->output().size();

    const QString host = carrier ? m_upstream : m_hotspot;
    const QString link = carrier ? "eth0" : "pub0";
    QCOMPARE(m_lab->ip(host, {"link", "set", link, "down"}).exitCode, 0);
    const int restarting = m_runner->waitFor("state Restarting", 12000, started);
    QVERIFY2(restarting >= 0, m_runner->output().constData());
    QVERIFY2(m_runner->waitFor("event NoInternet\nevent NoInternet", 5000, restarting) >= 0,
             m_runner->output().constData());
    QVERIFY(m_runner->engineTaps().isEmpty());
    QCOMPARE(m_facts->hasAddress(m_hotspot, "lan0", kGateway), mode == "router");

    QCOMPARE(m_lab->ip(host, {"link", "set", link, "up"}).exitCode, 0);
    if (!carrier) // taking the link down removed the routes through it
        QCOMPARE(m_lab->ip(m_hotspot, {"route", "replace", "default", "via", "198.51.100.1"}).exitCode, 0);
    QVERIFY2(m_runner->waitFor("state Started", 15000, restarting) >= 0, m_runner->output().constData());
    QCOMPARE(m_runner->states(started),
             (QByteArrayList{"Restarting", "ConfiguringInternet", "InternetConfigured", "Started"}));
    QVERIFY(m_runner->output().indexOf("event NoInternet\nevent Ready\nstate InternetConfigured\n", restarting) > 0);
    // The engine threads filter their adapters a moment after Started.
    QTRY_VERIFY2_WITH_TIMEOUT(m_runner->engineTaps().size() >= 2, qPrintable(m_runner->engineTaps().join(' ')), 3000);
    QCOMPARE(sourceSeenUpstream(), source);
}

// After the restart the translation uses the new public address: the upstream server sees
// the phone's requests come from it.
void TestSupervisionEndToEnd::newPublicAddressIsTranslatedTo()
{
    startRunner("router");
    QVERIFY(phoneGetsLease());
    QCOMPARE(sourceSeenUpstream(), QByteArray("198.51.100.2"));
    const int started = m_runner->output().size();

    m_lab->addAddress(m_hotspot, "pub0", "203.0.113.2/24");
    QCOMPARE(m_lab->ip(m_hotspot, {"addr", "del", "198.51.100.2/24", "dev", "pub0"}).exitCode, 0);
    QCOMPARE(m_lab->ip(m_hotspot, {"route", "replace", "default", "via", kServer}).exitCode, 0);
    const int restarting = m_runner->waitFor("state Restarting", 12000, started);
    QVERIFY2(restarting >= 0, m_runner->output().constData());
    QVERIFY2(m_runner->waitFor("state Started", 10000, restarting) >= 0, m_runner->output().constData());
    QCOMPARE(sourceSeenUpstream(), QByteArray("203.0.113.2"));
}

QTEST_GUILESS_MAIN(TestSupervisionEndToEnd)
#include "tst_supervisione2e.moc"
