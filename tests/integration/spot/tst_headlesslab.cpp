// SPDX-License-Identifier: GPL-3.0-or-later
// The spot worker end to end through tarnwick-headless, in lab namespaces with real peers.
//
// Topology: client eth0 — lan0 [spot] pub0 — eth0 upstream. The spot host runs the
// runner with lan0 as the private and pub0 as the public interface; the upstream host
// holds the gateway addresses 198.51.100.1 and 203.0.113.1 and so answers ARP for them.
#include "tests/lab/lab.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString kGateway = QStringLiteral("192.168.51.1");

using Options = QMap<QString, QString>;

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
    QProcess *startRunner(const Options &options);
    // Waits for the line (or lines) to appear at or after output position `from`.
    bool waitForLine(const QByteArray &line, int timeoutMs, int from = 0);
    int countLines(const QByteArray &line) const;
    QByteArrayList stateLines() const;
    bool stopRunner(int timeoutMs = 15000);
    bool hasAddress(const QString &host, const QString &ifname, const QString &address);
    QStringList tapNames(const QString &host);
    QString leaseFor(const QString &host);

    std::unique_ptr<Lab> m_lab;
    std::unique_ptr<QTemporaryDir> m_config;
    QString m_client, m_spot, m_upstream;
    QProcess *m_runner = nullptr;
    QByteArray m_output;
};

void TestHeadlessLab::init()
{
    QString why;
    if (!Lab::available(&why))
        QSKIP(qPrintable(why));
    m_lab = std::make_unique<Lab>();
    m_config = std::make_unique<QTemporaryDir>();
    m_client = m_lab->addHost(QStringLiteral("client"));
    m_spot = m_lab->addHost(QStringLiteral("spot"));
    m_upstream = m_lab->addHost(QStringLiteral("upstream"));
    QVERIFY(!m_client.isEmpty() && !m_spot.isEmpty() && !m_upstream.isEmpty());
    m_lab->addLink(m_client, "eth0", m_spot, "lan0");
    m_lab->addLink(m_spot, "pub0", m_upstream, "eth0");
    m_lab->addAddress(m_spot, "pub0", "198.51.100.2/24");
    m_lab->addAddress(m_upstream, "eth0", "198.51.100.1/24");
    m_lab->addAddress(m_upstream, "eth0", "203.0.113.1/24");
    m_lab->writeEtcFile(m_spot, "resolv.conf", "nameserver 198.51.100.1\n");
    m_runner = nullptr;
    m_output.clear();
}

void TestHeadlessLab::cleanup()
{
    if (m_runner && m_runner->state() != QProcess::NotRunning)
        Lab::stop(m_runner, 10000);
    m_runner = nullptr;
    m_lab.reset();
    m_config.reset();
}

QProcess *TestHeadlessLab::startRunner(const Options &options)
{
    {
        QSettings store(m_config->filePath("Orrinsby/Tarnwick.conf"), QSettings::IniFormat);
        for (auto it = options.cbegin(); it != options.cend(); ++it)
            store.setValue("options/" + it.key(), it.value());
    }
    m_runner = m_lab->start(m_spot, {"env", "XDG_CONFIG_HOME=" + m_config->path(), TARNWICK_HEADLESS});
    return m_runner;
}

bool TestHeadlessLab::waitForLine(const QByteArray &line, int timeoutMs, int from)
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
    return m_output.indexOf(line + '\n', from) >= 0;
}

int TestHeadlessLab::countLines(const QByteArray &line) const
{
    return int(m_output.split('\n').count(line));
}

QByteArrayList TestHeadlessLab::stateLines() const
{
    QByteArrayList states;
    for (const QByteArray &line : m_output.split('\n'))
        if (line.startsWith("state "))
            states << line.mid(6);
    return states;
}

// SIGTERM, then the stop sequence must end the runner with exit code 0.
bool TestHeadlessLab::stopRunner(int timeoutMs)
{
    m_runner->terminate();
    if (!m_runner->waitForFinished(timeoutMs))
        return false;
    m_output += m_runner->readAllStandardOutput();
    return m_runner->exitStatus() == QProcess::NormalExit && m_runner->exitCode() == 0;
}

bool TestHeadlessLab::hasAddress(const QString &host, const QString &ifname, const QString &address)
{
    const QByteArray json = m_lab->ip(host, {"-j", "-4", "addr", "show", "dev", ifname}).out;
    for (const QJsonValue &link : QJsonDocument::fromJson(json).array())
        for (const QJsonValue &entry : link.toObject().value("addr_info").toArray())
            if (entry.toObject().value("local").toString() == address)
                return true;
    return false;
}

// The packet engines' TAP devices.
QStringList TestHeadlessLab::tapNames(const QString &host)
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
    startRunner(options);
    QVERIFY2(waitForLine("error ConfigurationError", 10000), m_output.constData());
    QVERIFY(m_runner->waitForFinished(10000));
    m_output += m_runner->readAllStandardOutput();
    QCOMPARE(m_runner->exitCode(), 0);
    QCOMPARE(stateLines(), (QByteArrayList{"Starting", "Stopping", "Stopped"}));
    QVERIFY(m_output.endsWith("state Stopped\nerror ConfigurationError\n"));
    QVERIFY(!hasAddress(m_spot, "lan0", kGateway));
    QVERIFY(tapNames(m_spot).isEmpty());
}

void TestHeadlessLab::noSharingServesDhcpWithoutEngines()
{
    startRunner({{"publicNetworkInterfaceName", "nosharing"}, {"privateNetworkInterfaceName", "LAN0"}});
    QVERIFY2(waitForLine("state Started", 20000), m_output.constData());
    QCOMPARE(stateLines(), (QByteArrayList{"Starting", "ConfiguringSharing", "SharingConfigured", "Started"}));
    QVERIFY(!m_output.contains("event "));
    QVERIFY(hasAddress(m_spot, "lan0", kGateway));
    QVERIFY(tapNames(m_spot).isEmpty());
    const QString lease = leaseFor(m_client);
    QVERIFY2(lease.startsWith("192.168.51."), qPrintable(lease));
    QTest::qWait(5500); // one supervision round: nothing changes
    QCOMPARE(stateLines().size(), 4);
    QVERIFY(stopRunner());
    QCOMPARE(stateLines().mid(4), (QByteArrayList{"Stopping", "Stopped"}));
    QVERIFY(!hasAddress(m_spot, "lan0", kGateway));
}

// An address a crashed run left behind does not block the next start, and stop removes it.
void TestHeadlessLab::leftoverAddressIsTakenOver()
{
    m_lab->addAddress(m_spot, "lan0", kGateway + "/24");
    startRunner({{"publicNetworkInterfaceName", "nosharing"}, {"privateNetworkInterfaceName", "lan0"}});
    QVERIFY2(waitForLine("state Started", 20000), m_output.constData());
    QVERIFY(!leaseFor(m_client).isEmpty());
    QVERIFY(stopRunner());
    QVERIFY(m_output.endsWith("state Stopped\n"));
    QVERIFY(!hasAddress(m_spot, "lan0", kGateway));
}

// No default route, then one via an address nobody holds, then the real gateway.
void TestHeadlessLab::waitsForAGatewayThatAnswers()
{
    startRunner({{"publicNetworkInterfaceName", "pub0"}, {"privateNetworkInterfaceName", "lan0"}});
    QVERIFY2(waitForLine("state ConfiguringInternet", 20000), m_output.constData());
    QTest::qWait(3000);
    m_output += m_runner->readAllStandardOutput();
    QVERIFY2(countLines("event NoInternet") >= 2, m_output.constData());
    m_lab->addRoute(m_spot, {"default", "via", "198.51.100.9"});
    const int before = countLines("event NoInternet");
    QTest::qWait(4000);
    m_output += m_runner->readAllStandardOutput();
    QVERIFY2(countLines("event NoInternet") > before, m_output.constData());
    QVERIFY(!m_output.contains("state Started"));
    QCOMPARE(m_lab->ip(m_spot, {"route", "replace", "default", "via", "198.51.100.1"}).exitCode, 0);
    QVERIFY2(waitForLine("state Started", 10000), m_output.constData());
    QCOMPARE(stateLines(), (QByteArrayList{"Starting", "ConfiguringSharing", "SharingConfigured",
                                           "ConfiguringInternet", "InternetConfigured", "Started"}));
    QVERIFY(m_output.contains("event NoInternet\nevent Ready\nstate InternetConfigured\n"));
    QVERIFY(stopRunner());
}

// The wait is aborted, the start routine unwinds through the stop sequence, no error.
void TestHeadlessLab::stopWhileWaitingForTheInternet()
{
    startRunner({{"publicNetworkInterfaceName", "pub0"}, {"privateNetworkInterfaceName", "lan0"}});
    QVERIFY2(waitForLine("event NoInternet\nevent NoInternet", 20000), m_output.constData());
    QVERIFY(hasAddress(m_spot, "lan0", kGateway));
    QVERIFY(stopRunner());
    QCOMPARE(stateLines().mid(stateLines().size() - 3),
             (QByteArrayList{"ConfiguringInternet", "Stopping", "Stopped"}));
    QVERIFY(!m_output.contains("error "));
    QVERIFY(m_output.endsWith("state Stopped\n"));
    QVERIFY(!hasAddress(m_spot, "lan0", kGateway));
    QVERIFY(tapNames(m_spot).isEmpty());
}

void TestHeadlessLab::stopRemovesTheAddressAndRestoresTheAdapters()
{
    m_lab->addRoute(m_spot, {"default", "via", "198.51.100.1"});
    startRunner({{"publicNetworkInterfaceName", "pub0"}, {"privateNetworkInterfaceName", "lan0"}});
    QVERIFY2(waitForLine("state Started", 20000), m_output.constData());
    QVERIFY(hasAddress(m_spot, "lan0", kGateway));
    QVERIFY2(tapNames(m_spot).size() >= 2, qPrintable(tapNames(m_spot).join(' ')));
    const QString lease = leaseFor(m_client);
    QVERIFY2(!lease.isEmpty(), m_output.constData());
    QVERIFY(m_lab->ping(m_spot, "198.51.100.1", 2)); // the host's own traffic while sharing runs

    QVERIFY(stopRunner());
    QCOMPARE(stateLines().mid(stateLines().size() - 2), (QByteArrayList{"Stopping", "Stopped"}));
    QVERIFY(!hasAddress(m_spot, "lan0", kGateway));
    QVERIFY(tapNames(m_spot).isEmpty());
    QVERIFY(m_lab->ping(m_spot, "198.51.100.1", 2));
    m_lab->addAddress(m_spot, "lan0", "192.168.51.2/24");
    m_lab->addAddress(m_client, "eth0", lease + "/24"); // udhcpc ran without a script
    QVERIFY(m_lab->ping(m_spot, lease, 2));
}

void TestHeadlessLab::newPublicAddressRestarts()
{
    m_lab->addRoute(m_spot, {"default", "via", "198.51.100.1"});
    startRunner({{"publicNetworkInterfaceName", "pub0"}, {"privateNetworkInterfaceName", "lan0"}});
    QVERIFY2(waitForLine("state Started", 20000), m_output.constData());
    const int startedStates = stateLines().size();

    m_lab->addAddress(m_spot, "pub0", "203.0.113.2/24");
    QCOMPARE(m_lab->ip(m_spot, {"addr", "del", "198.51.100.2/24", "dev", "pub0"}).exitCode, 0);
    // The old default route may outlive its address; the new one replaces it.
    QCOMPARE(m_lab->ip(m_spot, {"route", "replace", "default", "via", "203.0.113.1"}).exitCode, 0);
    QVERIFY2(waitForLine("state Restarting", 12000), m_output.constData());
    QVERIFY2(waitForLine("state Started", 10000, m_output.indexOf("state Restarting")), m_output.constData());
    QCOMPARE(stateLines().mid(startedStates),
             (QByteArrayList{"Restarting", "ConfiguringInternet", "InternetConfigured", "Started"}));
    QVERIFY(tapNames(m_spot).size() >= 2);

    // The new address is the one supervised now: another round changes nothing.
    QTest::qWait(6000);
    m_output += m_runner->readAllStandardOutput();
    QCOMPARE(stateLines().size(), startedStates + 4);
    QVERIFY(stopRunner());
    QVERIFY(!hasAddress(m_spot, "lan0", kGateway));
}

QTEST_GUILESS_MAIN(TestHeadlessLab)
#include "tst_headlesslab.moc"
