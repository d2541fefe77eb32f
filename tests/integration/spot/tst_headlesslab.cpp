// SPDX-License-Identifier: GPL-3.0-or-later
// The spot worker end to end through tarnwick-headless, in lab namespaces with real peers.
//
// Topology: client eth0 — lan0 [spot] pub0 — eth0 upstream. The spot host runs the
// runner with lan0 as the private and pub0 as the public interface; the upstream host
// holds the gateway addresses 198.51.100.1 and 203.0.113.1 and so answers ARP for them.
#include "tests/lab/headlessrunner.h"
#include "tests/lab/hostfacts.h"
#include "tests/lab/lab.h"

#include <QtTest>

#include <memory>

namespace {

const QString kGateway = QStringLiteral("192.168.51.1");

using Options = HeadlessRunner::Options;

} // namespace

class TestHeadlessLab : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void refusesWithoutPrivileges();
    void configurationErrors_data();
    void configurationErrors();
    void noSharingServesDhcpWithoutEngines();
    void leftoverAddressIsTakenOver();
    void waitsForAGatewayThatAnswers();
    void stopWhileWaitingForTheInternet();
    void stopRemovesTheAddressAndRestoresTheAdapters();
    void newPublicAddressRestarts();

private:
    // Waits for the line (or lines) to appear at or after output position `from`.
    bool waitForLine(const QByteArray &line, int timeoutMs, int from = 0)
    {
        return m_runner->waitFor(line, timeoutMs, from) >= 0;
    }
    bool hasAddress(const QString &host, const QString &ifname, const QString &address)
    {
        return m_facts->hasAddress(host, ifname, address);
    }
    QString leaseFor(const QString &host);

    std::unique_ptr<Lab> m_lab;
    std::unique_ptr<HostFacts> m_facts;
    std::unique_ptr<HeadlessRunner> m_runner; // goes before the lab
    QString m_client, m_spot, m_upstream;
};

void TestHeadlessLab::init()
{
    LAB_SKIP_UNLESS_AVAILABLE();
    m_lab = std::make_unique<Lab>();
    m_facts = std::make_unique<HostFacts>(*m_lab);
    Lab::SharingHosts hosts;
    QVERIFY(m_lab->addSharingHosts(hosts));
    m_client = hosts.client;
    m_spot = hosts.hotspot;
    m_upstream = hosts.upstream;
    m_lab->addAddress(m_upstream, "eth0", "203.0.113.1/24");
    m_lab->writeEtcFile(m_spot, "resolv.conf", "nameserver 198.51.100.1\n");
    m_runner = std::make_unique<HeadlessRunner>(*m_lab, m_spot, TARNWICK_HEADLESS);
}

void TestHeadlessLab::cleanup()
{
    m_runner.reset(); // a runner still running gets its stop sequence
    m_lab.reset();
}

// A lease from the spot's DHCP server by busybox udhcpc; the leased address or empty.
QString TestHeadlessLab::leaseFor(const QString &host)
{
    const Lab::Result r = m_lab->run(host, {"busybox", "udhcpc", "-i", "eth0", "-n", "-q", "-f", "-t", "5", "-T",
                                            "1", "-s", "/bin/true"}, 20000);
    const QRegularExpression lease(QStringLiteral("lease of (\\S+) obtained from 192\\.168\\.51\\.1"));
    const QRegularExpressionMatch m = lease.match(QString::fromLocal8Bit(r.out + r.err));
    return m.hasMatch() ? m.captured(1) : QString();
}

void TestHeadlessLab::refusesWithoutPrivileges()
{
    QProcess runner;
    runner.start("setpriv", {"--bounding-set=-net_admin", "--inh-caps=-net_admin", "--", TARNWICK_HEADLESS});
    QVERIFY(runner.waitForFinished(10000));
    QCOMPARE(runner.exitCode(), 1);
    QVERIFY(runner.readAllStandardOutput().isEmpty());
    const QByteArray err = runner.readAllStandardError();
    QVERIFY2(err.contains("missing: CAP_NET_ADMIN\n"), err.constData());
}

void TestHeadlessLab::configurationErrors_data()
{
    QTest::addColumn<Options>("options");
    QTest::newRow("unknown public") << Options{{"publicNetworkInterfaceName", "nosuch0"},
                                               {"privateNetworkInterfaceName", "lan0"}};
    QTest::newRow("public never chosen") << Options{{"privateNetworkInterfaceName", "lan0"}};
    QTest::newRow("unknown private") << Options{{"publicNetworkInterfaceName", "pub0"},
                                                {"privateNetworkInterfaceName", "nosuch0"}};
    QTest::newRow("no sharing, unknown private") << Options{{"publicNetworkInterfaceName", "nosharing"},
                                                            {"privateNetworkInterfaceName", "lan1"}};
    QTest::newRow("access point") << Options{{"publicNetworkInterfaceName", "pub0"},
                                             {"privateNetworkInterfaceName", "accesspoint"}};
    QTest::newRow("repeater") << Options{{"wifiRepeaterEnabled", "true"},
                                         {"wifiRepeaterNetworkInterfaceName", "pub0"},
                                         {"privateNetworkInterfaceName", "lan0"}};
    QTest::newRow("name case differs, access point") << Options{{"publicNetworkInterfaceName", "PUB0"},
                                                                 {"privateNetworkInterfaceName", "accesspoint"}};
}

// The runner stops by itself after the error and touches nothing on the way.
void TestHeadlessLab::configurationErrors()
{
    QFETCH(Options, options);
    QVERIFY(m_runner->start(options));
    QVERIFY2(waitForLine("error ConfigurationError", 10000), m_runner->output().constData());
    QVERIFY(m_runner->waitForExit(10000)); // by itself, with exit code 0
    QCOMPARE(m_runner->states(), (QByteArrayList{"Starting", "Stopping", "Stopped"}));
    QVERIFY(m_runner->output().endsWith("state Stopped\nerror ConfigurationError\n"));
    QVERIFY(!hasAddress(m_spot, "lan0", kGateway));
    QVERIFY(m_runner->engineTaps().isEmpty());
}

void TestHeadlessLab::noSharingServesDhcpWithoutEngines()
{
    QVERIFY(m_runner->start({{"publicNetworkInterfaceName", "nosharing"}, {"privateNetworkInterfaceName", "LAN0"}}));
    QVERIFY2(waitForLine("state Started", 20000), m_runner->output().constData());
    QCOMPARE(m_runner->states(), (QByteArrayList{"Starting", "ConfiguringSharing", "SharingConfigured", "Started"}));
    QVERIFY(!m_runner->output().contains("event "));
    QVERIFY(hasAddress(m_spot, "lan0", kGateway));
    QVERIFY(m_runner->engineTaps().isEmpty());
    const QString lease = leaseFor(m_client);
    QVERIFY2(lease.startsWith("192.168.51."), qPrintable(lease));
    QTest::qWait(5500); // one supervision round: nothing changes
    QCOMPARE(m_runner->states().size(), 4);
    QVERIFY(m_runner->stop());
    QCOMPARE(m_runner->states().mid(4), (QByteArrayList{"Stopping", "Stopped"}));
    QVERIFY(!hasAddress(m_spot, "lan0", kGateway));
}

// An address a crashed run left behind does not block the next start, and stop removes it.
void TestHeadlessLab::leftoverAddressIsTakenOver()
{
    m_lab->addAddress(m_spot, "lan0", kGateway + "/24");
    QVERIFY(m_runner->start({{"publicNetworkInterfaceName", "nosharing"}, {"privateNetworkInterfaceName", "lan0"}}));
    QVERIFY2(waitForLine("state Started", 20000), m_runner->output().constData());
    QVERIFY(!leaseFor(m_client).isEmpty());
    QVERIFY(m_runner->stop());
    QVERIFY(m_runner->output().endsWith("state Stopped\n"));
    QVERIFY(!hasAddress(m_spot, "lan0", kGateway));
}

// No default route, then one via an address nobody holds, then the real gateway.
void TestHeadlessLab::waitsForAGatewayThatAnswers()
{
    QVERIFY(m_runner->start({{"publicNetworkInterfaceName", "pub0"}, {"privateNetworkInterfaceName", "lan0"}}));
    QVERIFY2(waitForLine("state ConfiguringInternet", 20000), m_runner->output().constData());
    QTest::qWait(3000);
    m_runner->read();
    QVERIFY2(m_runner->count("event NoInternet") >= 2, m_runner->output().constData());
    m_lab->addRoute(m_spot, {"default", "via", "198.51.100.9"});
    const int before = m_runner->count("event NoInternet");
    QTest::qWait(4000);
    m_runner->read();
    QVERIFY2(m_runner->count("event NoInternet") > before, m_runner->output().constData());
    QVERIFY(!m_runner->output().contains("state Started"));
    QCOMPARE(m_lab->ip(m_spot, {"route", "replace", "default", "via", "198.51.100.1"}).exitCode, 0);
    QVERIFY2(waitForLine("state Started", 10000), m_runner->output().constData());
    QCOMPARE(m_runner->states(), (QByteArrayList{"Starting", "ConfiguringSharing", "SharingConfigured",
                                           "ConfiguringInternet", "InternetConfigured", "Started"}));
    QVERIFY(m_runner->output().contains("event NoInternet\nevent Ready\nstate InternetConfigured\n"));
    QVERIFY(m_runner->stop());
}

// The wait is aborted, the start routine unwinds through the stop sequence, no error.
void TestHeadlessLab::stopWhileWaitingForTheInternet()
{
    QVERIFY(m_runner->start({{"publicNetworkInterfaceName", "pub0"}, {"privateNetworkInterfaceName", "lan0"}}));
    QVERIFY2(waitForLine("event NoInternet\nevent NoInternet", 20000), m_runner->output().constData());
    QVERIFY(hasAddress(m_spot, "lan0", kGateway));
    QVERIFY(m_runner->stop());
    QCOMPARE(m_runner->states().mid(m_runner->states().size() - 3),
             (QByteArrayList{"ConfiguringInternet", "Stopping", "Stopped"}));
    QVERIFY(!m_runner->output().contains("error "));
    QVERIFY(m_runner->output().endsWith("state Stopped\n"));
    QVERIFY(!hasAddress(m_spot, "lan0", kGateway));
    QVERIFY(m_runner->engineTaps().isEmpty());
}

void TestHeadlessLab::stopRemovesTheAddressAndRestoresTheAdapters()
{
    m_lab->addRoute(m_spot, {"default", "via", "198.51.100.1"});
    QVERIFY(m_runner->start({{"publicNetworkInterfaceName", "pub0"}, {"privateNetworkInterfaceName", "lan0"}}));
    QVERIFY2(waitForLine("state Started", 20000), m_runner->output().constData());
    QVERIFY(hasAddress(m_spot, "lan0", kGateway));
    // The engine threads filter their adapters a moment after Started.
    QTRY_VERIFY2_WITH_TIMEOUT(m_runner->engineTaps().size() >= 2, qPrintable(m_runner->engineTaps().join(' ')), 3000);
    const QString lease = leaseFor(m_client);
    QVERIFY2(!lease.isEmpty(), m_runner->output().constData());
    QVERIFY(m_lab->ping(m_spot, "198.51.100.1", 2)); // the host's own traffic while sharing runs

    QVERIFY(m_runner->stop());
    QCOMPARE(m_runner->states().mid(m_runner->states().size() - 2), (QByteArrayList{"Stopping", "Stopped"}));
    QVERIFY(!hasAddress(m_spot, "lan0", kGateway));
    QVERIFY(m_runner->engineTaps().isEmpty());
    QVERIFY(m_lab->ping(m_spot, "198.51.100.1", 2));
    m_lab->addAddress(m_spot, "lan0", "192.168.51.2/24");
    m_lab->addAddress(m_client, "eth0", lease + "/24"); // udhcpc ran without a script
    QVERIFY(m_lab->ping(m_spot, lease, 2));
}

void TestHeadlessLab::newPublicAddressRestarts()
{
    m_lab->addRoute(m_spot, {"default", "via", "198.51.100.1"});
    QVERIFY(m_runner->start({{"publicNetworkInterfaceName", "pub0"}, {"privateNetworkInterfaceName", "lan0"}}));
    QVERIFY2(waitForLine("state Started", 20000), m_runner->output().constData());
    const int startedStates = m_runner->states().size();

    m_lab->addAddress(m_spot, "pub0", "203.0.113.2/24");
    QCOMPARE(m_lab->ip(m_spot, {"addr", "del", "198.51.100.2/24", "dev", "pub0"}).exitCode, 0);
    // The old default route may outlive its address; the new one replaces it.
    QCOMPARE(m_lab->ip(m_spot, {"route", "replace", "default", "via", "203.0.113.1"}).exitCode, 0);
    QVERIFY2(waitForLine("state Restarting", 12000), m_runner->output().constData());
    QVERIFY2(waitForLine("state Started", 10000, m_runner->output().indexOf("state Restarting")),
             m_runner->output().constData());
    QCOMPARE(m_runner->states().mid(startedStates),
             (QByteArrayList{"Restarting", "ConfiguringInternet", "InternetConfigured", "Started"}));
    QTRY_VERIFY_WITH_TIMEOUT(m_runner->engineTaps().size() >= 2, 3000); // a moment after Started

    // The new address is the one supervised now: another round changes nothing.
    QTest::qWait(6000);
    m_runner->read();
    QCOMPARE(m_runner->states().size(), startedStates + 4);
    QVERIFY(m_runner->stop());
    QVERIFY(!hasAddress(m_spot, "lan0", kGateway));
}

QTEST_GUILESS_MAIN(TestHeadlessLab)
#include "tst_headlesslab.moc"
