// SPDX-License-Identifier: GPL-3.0-or-later
// An engine pair whose frames all pass, on real namespaces: traffic, interception, lifetime.
//
// Topology: client (192.168.51.10) — lan0 [middle, kernel forwarding] wan0 — server
// (198.51.100.2). The engine pair runs in the middle with wan0 public and lan0 private.
#include "tests/lab/lab.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

const QString kClientIp = QStringLiteral("192.168.51.10");
const QString kLanIp = QStringLiteral("192.168.51.1");
const QString kServerIp = QStringLiteral("198.51.100.2");
constexpr int kBlobSize = 4 * 1024 * 1024;

} // namespace

class TestEnginePair : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void trafficFlowsThroughThePair();
    void stopRestoresTheAdapters();
    void killedProcessRestoresTheAdapters();

private:
    QProcess *startPair();
    bool waitFor(QProcess *process, const QByteArray &line, int timeoutMs = 5000);
    QMap<QString, qint64> tapPackets();
    QByteArray serveBlob();

    std::unique_ptr<Lab> m_lab;
    QString m_client, m_middle, m_server;
    QTemporaryDir m_www;
    QByteArray m_output;
};

void TestEnginePair::init()
{
    QString why;
    if (!Lab::available(&why))
        QSKIP(qPrintable(why));
    m_lab = std::make_unique<Lab>();
    Lab::RoutedHosts hosts;
    QVERIFY(m_lab->addRoutedHosts(hosts));
    m_client = hosts.client;
    m_middle = hosts.middle;
    m_server = hosts.server;
    QVERIFY(m_lab->ping(m_client, kServerIp));
    m_output.clear();
}

void TestEnginePair::cleanup()
{
    m_lab.reset();
}

QProcess *TestEnginePair::startPair()
{
    return m_lab->start(m_middle, {TARNWICK_ENGINEPAIRPROBE, "wan0", "lan0"});
}

bool TestEnginePair::waitFor(QProcess *process, const QByteArray &line, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!m_output.contains(line + '\n') && t.elapsed() < timeoutMs
           && process->state() != QProcess::NotRunning) {
        process->waitForReadyRead(100);
        m_output += process->readAllStandardOutput();
    }
    m_output += process->readAllStandardOutput();
    return m_output.contains(line + '\n');
}

// Packets through the driver's TAP devices in the middle (received plus sent).
QMap<QString, qint64> TestEnginePair::tapPackets()
{
    QMap<QString, qint64> packets;
    const QByteArray json = m_lab->ip(m_middle, {"-s", "-j", "link", "show"}).out;
    for (const QJsonValue &v : QJsonDocument::fromJson(json).array()) {
        const QJsonObject link = v.toObject();
        const QString name = link.value("ifname").toString();
        if (!name.startsWith(QLatin1String("twk")))
            continue;
        const QJsonObject stats = link.value("stats64").toObject();
        packets[name] = qint64(stats.value("rx").toObject().value("packets").toDouble()
                               + stats.value("tx").toObject().value("packets").toDouble());
    }
    return packets;
}

// Serves a file of kBlobSize pseudo-random bytes from the server; returns its SHA-256.
QByteArray TestEnginePair::serveBlob()
{
    QFile blob(m_www.filePath("blob"));
    if (!blob.open(QIODevice::WriteOnly))
        return {};
    QByteArray data(kBlobSize, '\0');
    quint32 x = 0x12345678;
    for (char &c : data) {
        x = x * 1664525u + 1013904223u;
        c = char(x >> 24);
    }
    blob.write(data);
    blob.close();
    m_lab->start(m_server, {"busybox", "httpd", "-f", "-p", "8080", "-h", m_www.path()});
    QTest::qWait(200);
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

void TestEnginePair::trafficFlowsThroughThePair()
{
    const QByteArray sum = serveBlob();
    QVERIFY(!sum.isEmpty());
    QProcess *pair = startPair();
    QVERIFY2(waitFor(pair, "started"), pair->readAllStandardError().constData());
    QTest::qWait(300);
    const QMap<QString, qint64> before = tapPackets();
    QVERIFY2(before.size() >= 3, qPrintable(QStringList(before.keys()).join(' ')));

    QVERIFY(m_lab->ping(m_client, kServerIp, 5));
    QVERIFY(m_lab->ping(m_client, kLanIp, 3));
    const Lab::Result curl = m_lab->run(m_client, {"sh", "-c", "curl -s --max-time 30 http://" + kServerIp
                                                   + ":8080/blob | sha256sum"}, 40000);
    QCOMPARE(curl.exitCode, 0);
    QCOMPARE(curl.out.left(64), sum);

    // The middle's own traffic on both sides keeps working while both adapters are filtered.
    QVERIFY(m_lab->ping(m_middle, kServerIp, 2));
    QVERIFY(m_lab->ping(m_middle, kClientIp, 2));

    m_lab->start(m_server, {"iperf3", "-s", "-1", "-p", "5201"});
    QTest::qWait(300);
    const Lab::Result iperf = m_lab->run(m_client, {"iperf3", "-c", kServerIp, "-p", "5201", "-t", "2",
                                                    "--connect-timeout", "3000"}, 20000);
    QVERIFY2(iperf.exitCode == 0, iperf.out.right(400).constData());

    // The frames went through the engine: the download alone is some 2900 frames.
    const QMap<QString, qint64> after = tapPackets();
    qint64 through = 0;
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        through += it.value() - before.value(it.key());
    QVERIFY2(through > 2 * kBlobSize / 1514, qPrintable(QString::number(through)));

    // A paused engine lets nothing through behind its back.
    ::kill(pid_t(pair->processId()), SIGSTOP);
    QVERIFY(!m_lab->ping(m_client, kServerIp, 2));
    QVERIFY(!m_lab->ping(m_client, kLanIp, 1));
    ::kill(pid_t(pair->processId()), SIGCONT);
    QVERIFY(m_lab->ping(m_client, kServerIp, 2, 2));
}

void TestEnginePair::stopRestoresTheAdapters()
{
    QProcess *pair = startPair();
    QVERIFY(waitFor(pair, "started"));
    QVERIFY(m_lab->ping(m_client, kServerIp, 2));
    pair->terminate();
    QVERIFY(waitFor(pair, "stopped"));
    QVERIFY(pair->waitForFinished(5000));
    QCOMPARE(pair->exitCode(), 0);
    QVERIFY(tapPackets().isEmpty());
    QVERIFY(m_lab->ping(m_client, kServerIp, 2));
    QVERIFY(m_lab->ping(m_client, kLanIp, 1));
}

void TestEnginePair::killedProcessRestoresTheAdapters()
{
    QProcess *pair = startPair();
    QVERIFY(waitFor(pair, "started"));
    QVERIFY(m_lab->ping(m_client, kServerIp, 2));
    ::kill(pid_t(pair->processId()), SIGKILL);
    QVERIFY(pair->waitForFinished(3000));
    QElapsedTimer t;
    t.start();
    bool back = false;
    while (!back && t.elapsed() < 3000)
        back = m_lab->ping(m_client, kServerIp, 1, 1);
    QVERIFY(back);
    QVERIFY2(t.elapsed() < 1500, qPrintable(QString::number(t.elapsed())));
    QVERIFY(tapPackets().isEmpty());
}

QTEST_GUILESS_MAIN(TestEnginePair)
#include "tst_enginepair.moc"
