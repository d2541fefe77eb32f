// SPDX-License-Identifier: GPL-3.0-or-later
// The packet driver on real namespaces: interception, re-injection, event and lifetime.
//
// Topology: client (192.168.51.10) — lan0 [middle, forwarding] wan0 — server (198.51.100.2).
// The driver filters the middle's adapters, inside the middle's namespace.
#include "engine/cndisapi.h"
#include "platform/waitevent.h"
#include "tests/integration/driver/adapterlookup.h"
#include "tests/lab/lab.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <net/if.h>

namespace {

const QString kClientIp = QStringLiteral("192.168.51.10");
const QString kMiddleLanIp = QStringLiteral("192.168.51.1");
const QString kServerIp = QStringLiteral("198.51.100.2");
constexpr int kBlobSize = 3 * 1024 * 1024;

struct FrameCounts {
    long wire = -1, stack = -1, failed = -1, badChecksums = -1;
};

// Collects a pass-through's output and keeps the last counts it printed.
class PassThrough
{
public:
    explicit PassThrough(QProcess *process) : m_process(process) {}

    bool waitReady(int timeoutMs = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (!m_output.contains("ready\n") && t.elapsed() < timeoutMs) {
            if (m_process->state() == QProcess::NotRunning)
                break;
            m_process->waitForReadyRead(100);
            m_output += m_process->readAllStandardOutput();
        }
        return m_output.contains("ready\n");
    }

    // The counts as of now: the pass-through prints within a few hundred milliseconds.
    FrameCounts counts()
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 600) {
            m_process->waitForReadyRead(100);
            m_output += m_process->readAllStandardOutput();
        }
        FrameCounts c;
        static const QRegularExpression re(QStringLiteral("frames wire=(\\d+) stack=(\\d+) failed=(\\d+) badsum=(\\d+)"));
        auto it = re.globalMatch(QString::fromLatin1(m_output));
        while (it.hasNext()) {
            const auto m = it.next();
            c = {m.captured(1).toLong(), m.captured(2).toLong(), m.captured(3).toLong(), m.captured(4).toLong()};
        }
        return c;
    }

    QByteArray errors() { return m_process->readAllStandardError(); }
    void signal(int sig) { ::kill(static_cast<pid_t>(m_process->processId()), sig); }
    QProcess *process() { return m_process; }

private:
    QProcess *m_process;
    QByteArray m_output;
};

} // namespace

class TestPacketDriverLab : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void adapterListMatchesInterfaces();
    void emptyQueueReadReturnsAtOnce();
    void packetEventFollowsTheQueue();
    void refusesUnknownAdapters();
    void leftoverTapIsReplaced();
    void promiscuousFilterEndsWithTheDevice();
    void trafficPassesThroughTheEngine_data();
    void trafficPassesThroughTheEngine();

private:
    QStringList middleTaps();

    std::unique_ptr<Lab> m_lab;
    QString m_client, m_middle, m_server;
    QTemporaryDir m_www;
};

void TestPacketDriverLab::init()
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
}

void TestPacketDriverLab::cleanup()
{
    if (m_lab)
        m_lab->cleanup();
    m_lab.reset();
}

QStringList TestPacketDriverLab::middleTaps()
{
    const QByteArray out = m_lab->ip(m_middle, {"-o", "link", "show"}).out;
    QStringList taps;
    for (const QByteArray &line : out.split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() > 1 && fields[1].trimmed().startsWith("twk"))
            taps << QString::fromLatin1(fields[1].trimmed());
    }
    return taps;
}

void TestPacketDriverLab::adapterListMatchesInterfaces()
{
    QVERIFY(m_lab->enter(m_middle));
    CNdisApi api("TRNWICK");
    auto list = std::make_unique<AdapterList>();
    QVERIFY(api.getAdapterList(*list));
    QCOMPARE(list->count, 2u); // lan0 and wan0; loopback is not an adapter
    for (quint32 i = 0; i < list->count; ++i) {
        const QByteArray name = QByteArray(list->names[i]).mid(8);
        QCOMPARE(QByteArray(list->names[i]).left(8), QByteArray("\\DEVICE\\"));
        QCOMPARE(list->handles[i], if_nametoindex(name.constData()));
        QCOMPARE(list->mtus[i], quint16(1500));
        QVERIFY(m_lab->ip(m_middle, {"link", "show", name}).out.contains(
            QByteArray(reinterpret_cast<const char *>(list->macs[i]), 6).toHex(':')));
    }
    // Its own TAP devices never show up as adapters.
    AdapterHandle lan = 0;
    QVERIFY(adapterHandle(api, "lan0", lan));
    QVERIFY(api.setAdapterMode(lan, 0x03));
    QVERIFY(api.getAdapterList(*list));
    QCOMPARE(list->count, 2u);
    m_lab->leave();
}

void TestPacketDriverLab::emptyQueueReadReturnsAtOnce()
{
    QVERIFY(m_lab->enter(m_middle));
    CNdisApi api("TRNWICK");
    AdapterHandle lan = 0;
    QVERIFY(adapterHandle(api, "lan0", lan));
    auto buffer = std::make_unique<PacketBuffer>();
    PacketRequest request{lan, buffer.get()};
    QVERIFY(!api.readPacket(request)); // not filtered by this object
    QVERIFY(api.setAdapterMode(lan, 0x03));
    QVERIFY(api.flushAdapterQueue(lan));
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 1000; ++i)
        QVERIFY(!api.readPacket(request));
    QVERIFY2(t.elapsed() < 200, qPrintable(QString::number(t.elapsed())));
    m_lab->leave();
}

void TestPacketDriverLab::packetEventFollowsTheQueue()
{
    QVERIFY(m_lab->enter(m_middle));
    {
        CNdisApi api("TRNWICK");
        AdapterHandle lan = 0;
        QVERIFY(adapterHandle(api, "lan0", lan));
        WaitEvent stop, packet;
        QVERIFY(api.setPacketEvent(lan, packet.nativeHandle())); // before the mode, as the engine does
        QVERIFY(api.setAdapterMode(lan, 0x03));
        QCOMPARE(middleTaps().size(), 2);
        for (const QString &tap : middleTaps()) {
            const QByteArray addresses = m_lab->ip(m_middle, {"addr", "show", "dev", tap}).out;
            QVERIFY2(!addresses.contains("inet"), addresses.constData()); // no IPv6, no autoconfiguration
            QVERIFY(m_lab->ip(m_middle, {"link", "show", tap}).out.contains("qlen 10000"));
        }
        api.flushAdapterQueue(lan);
        QVERIFY(!packet.isSignalled());

        // The client's ping is held by us: it arrives as a frame from the wire.
        m_lab->run(m_client, {"ping", "-c", "1", "-W", "1", kMiddleLanIp});
        QCOMPARE(WaitEvent::waitAny(stop, packet, 3000), WaitEvent::SecondSignalled);
        auto buffer = std::make_unique<PacketBuffer>();
        PacketRequest request{lan, buffer.get()};
        int fromWire = 0;
        while (api.readPacket(request)) {
            QVERIFY(buffer->length >= 14 && buffer->length <= kMaxFrameSize);
            fromWire += buffer->direction == PacketFromWire ? 1 : 0;
        }
        QVERIFY(fromWire >= 1);
        QVERIFY(!packet.isSignalled()); // drained: nothing left to signal

        // A frame that arrives after the last empty read and before the reset is not lost.
        m_lab->run(m_client, {"ping", "-c", "1", "-W", "1", kMiddleLanIp});
        packet.reset();
        QCOMPARE(WaitEvent::waitAny(stop, packet, 0), WaitEvent::SecondSignalled);
        QVERIFY(api.readPacket(request));

        // Unregistered: queued frames no longer signal it.
        QVERIFY(api.setPacketEvent(lan, kNullEventHandle));
        m_lab->run(m_client, {"ping", "-c", "1", "-W", "1", kMiddleLanIp});
        packet.reset();
        QVERIFY(!packet.isSignalled());
        QVERIFY(api.readPacket(request));

        QVERIFY(api.setAdapterMode(lan, 0));
        QVERIFY(middleTaps().isEmpty());
        QVERIFY(api.setAdapterMode(lan, 0x02));
        QCOMPARE(middleTaps().size(), 2);
    }
    QVERIFY(middleTaps().isEmpty()); // everything went with the object
    m_lab->leave();
    QVERIFY(m_lab->ping(m_client, kMiddleLanIp));
}

void TestPacketDriverLab::refusesUnknownAdapters()
{
    QVERIFY(m_lab->enter(m_middle));
    CNdisApi api("TRNWICK");
    auto buffer = std::make_unique<PacketBuffer>();
    buffer->length = 60;
    const AdapterHandle missing = 99999;
    PacketRequest request{missing, buffer.get()};
    QVERIFY(!api.setAdapterMode(missing, 0x03));
    QVERIFY(!api.setPacketFilter(missing, 0x20));
    QVERIFY(!api.sendPacketToStack(request));
    QVERIFY(!api.sendPacketToAdapter(request));
    QVERIFY(!api.setPacketEvent(missing, 0));
    AdapterHandle lan = 0;
    QVERIFY(adapterHandle(api, "lan0", lan));
    QVERIFY(!api.setPacketEvent(lan, STDOUT_FILENO)); // not a waitable event
    buffer->length = kMaxFrameSize + 1;
    request.adapter = lan;
    QVERIFY(!api.sendPacketToAdapter(request));
    QVERIFY(middleTaps().isEmpty());
    m_lab->leave();
}

void TestPacketDriverLab::leftoverTapIsReplaced()
{
    QVERIFY(m_lab->enter(m_middle));
    const QString name = QStringLiteral("twkw%1").arg(if_nametoindex("lan0"));
    QCOMPARE(m_lab->ip(m_middle, {"tuntap", "add", "mode", "tap", "name", name}).exitCode, 0);
    QVERIFY(middleTaps().contains(name));
    {
        CNdisApi api("TRNWICK");
        AdapterHandle lan = 0;
        QVERIFY(adapterHandle(api, "lan0", lan));
        QVERIFY(api.setAdapterMode(lan, 0x03));
        QCOMPARE(middleTaps().size(), 2);
    }
    QVERIFY(middleTaps().isEmpty()); // the replacement is not persistent
    m_lab->leave();
    QVERIFY(m_lab->ping(m_client, kServerIp));
}

void TestPacketDriverLab::promiscuousFilterEndsWithTheDevice()
{
    // Taken by a packet socket membership, promiscuity is counted but not shown as a flag.
    auto promiscuous = [this] {
        return !m_lab->ip(m_middle, {"-d", "link", "show", "lan0"}).out.contains(" promiscuity 0 ");
    };
    QVERIFY(m_lab->enter(m_middle));
    {
        CNdisApi api("TRNWICK");
        AdapterHandle lan = 0;
        QVERIFY(adapterHandle(api, "lan0", lan));
        QVERIFY(api.setPacketFilter(lan, 0x20));
        QVERIFY(promiscuous());
        quint32 filter = 0;
        QVERIFY(api.getPacketFilter(lan, filter));
        QCOMPARE(filter, 0x20u);
        QVERIFY(api.setPacketFilter(lan, 0x0B));
        QVERIFY(!promiscuous());
        QVERIFY(api.setPacketFilter(lan, 0x20));
    }
    QVERIFY(!promiscuous());
    // A promiscuous mode set by someone else is left alone.
    m_lab->ip(m_middle, {"link", "set", "lan0", "promisc", "on"});
    {
        CNdisApi api("TRNWICK");
        AdapterHandle lan = 0;
        QVERIFY(adapterHandle(api, "lan0", lan));
        QVERIFY(api.setPacketFilter(lan, 0x20));
        QVERIFY(api.setPacketFilter(lan, 0x0B));
    }
    QVERIFY(promiscuous());
    m_lab->leave();
}

void TestPacketDriverLab::trafficPassesThroughTheEngine_data()
{
    QTest::addColumn<bool>("viaOther");
    QTest::newRow("re-injected by the filtering object") << false;
    QTest::newRow("re-injected by a second object") << true;
}

void TestPacketDriverLab::trafficPassesThroughTheEngine()
{
    QFETCH(bool, viaOther);
    QVERIFY(m_www.isValid());
    QFile blob(m_www.filePath("blob"));
    QVERIFY(blob.open(QIODevice::WriteOnly));
    QByteArray data(kBlobSize, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((i * 2654435761u) >> 24);
    blob.write(data);
    blob.close();
    m_lab->start(m_server, {"busybox", "httpd", "-f", "-p", "8080", "-h", m_www.path()});
    m_lab->start(m_middle, {"busybox", "httpd", "-f", "-p", "8080", "-h", m_www.path()});

    QStringList args{TARNWICK_PASSTHROUGH, "lan0", "3"};
    if (viaOther)
        args << "--send-via-other";
    PassThrough lan(m_lab->start(m_middle, args));
    PassThrough wan(m_lab->start(m_middle, {TARNWICK_PASSTHROUGH, "wan0", "2"}));
    QVERIFY2(lan.waitReady(), lan.errors().constData());
    QVERIFY2(wan.waitReady(), wan.errors().constData());
    // The queue TAPs of both adapters; a second object may already have made its
    // injection TAP for the first frame it re-injected.
    const QStringList queues = middleTaps().filter(QRegularExpression(QStringLiteral("^twk[wh]")));
    QCOMPARE(queues.size(), 4);

    QVERIFY(m_lab->ping(m_client, kServerIp, 5));
    QVERIFY(m_lab->ping(m_client, kMiddleLanIp, 3)); // delivered to the middle's own stack
    const Lab::Result curl = m_lab->run(m_client, {"curl", "-s", "-o", "/dev/null", "-w", "%{size_download}",
                                                   "--max-time", "20", "http://" + kServerIp + ":8080/blob"}, 30000);
    QCOMPARE(curl.exitCode, 0);
    QCOMPARE(curl.out.toLong(), long(kBlobSize));
    // From the middle's own stack: its segments leave through the driver, checksums and all.
    const Lab::Result local = m_lab->run(m_client, {"curl", "-s", "-o", "/dev/null", "-w", "%{size_download}",
                                                    "--max-time", "20", "http://" + kMiddleLanIp + ":8080/blob"}, 30000);
    QCOMPARE(local.exitCode, 0);
    QCOMPARE(local.out.toLong(), long(kBlobSize));

    // The download went server -> client: its data segments left lan0 from the stack.
    const FrameCounts l = lan.counts();
    QVERIFY2(l.stack > 2 * kBlobSize / 1514, qPrintable(QString::number(l.stack)));
    QVERIFY(l.wire > 10);
    QCOMPARE(l.failed, 0L);
    QCOMPARE(l.badChecksums, 0L);
    const FrameCounts w = wan.counts();
    QVERIFY2(w.wire > kBlobSize / 1514, qPrintable(QString::number(w.wire)));
    QCOMPARE(w.failed, 0L);
    QCOMPARE(w.badChecksums, 0L);

    if (!QStandardPaths::findExecutable("iperf3").isEmpty()) {
        m_lab->start(m_server, {"iperf3", "-s", "-1", "-p", "5201"});
        QTest::qWait(300);
        const Lab::Result iperf = m_lab->run(m_client, {"iperf3", "-c", kServerIp, "-p", "5201", "-t", "2",
                                                        "--connect-timeout", "3000"}, 20000);
        QVERIFY2(iperf.exitCode == 0, iperf.out.right(400).constData());
        qInfo("%s", iperf.out.right(200).trimmed().constData());
    }

    // While the engine does not run, nothing gets through behind its back.
    lan.signal(SIGSTOP);
    QVERIFY(!m_lab->ping(m_client, kServerIp, 2));
    QVERIFY(!m_lab->ping(m_client, kMiddleLanIp, 1));
    lan.signal(SIGCONT);
    QVERIFY(m_lab->ping(m_client, kServerIp, 2, 2));

    // Killed without a chance to clean up: the adapter works as before, at once.
    lan.signal(SIGKILL);
    wan.signal(SIGKILL);
    lan.process()->waitForFinished(3000);
    wan.process()->waitForFinished(3000);
    QElapsedTimer t;
    t.start();
    bool back = false;
    while (!back && t.elapsed() < 3000)
        back = m_lab->ping(m_client, kServerIp, 1, 1);
    QVERIFY(back);
    QVERIFY2(t.elapsed() < 1500, qPrintable(QString::number(t.elapsed())));
    QVERIFY(middleTaps().isEmpty());
}

QTEST_GUILESS_MAIN(TestPacketDriverLab)
#include "tst_packetdriverlab.moc"
