// SPDX-License-Identifier: GPL-3.0-or-later
// The packet driver's frame rings on real namespaces: exact frames, overflow into the TAP,
// frames the ring must leave to the TAP, flush, the packet event, and the adapter afterwards.
//
// Topology: client eth0 (192.168.51.10) — lan0 (192.168.51.1) middle. The driver filters
// lan0 inside the middle. Frames "from the wire" are sent by a packet socket on the client's
// eth0; frames "from the stack" by a packet socket (or a UDP socket) of the middle on lan0.
#include "engine/checksum.h"
#include "engine/cndisapi.h"
#include "engine/ipv4view.h"
#include "platform/linux/adapterport.h"
#include "platform/linux/drivernames.h"
#include "platform/linux/kernelbtf.h"
#include "platform/waitevent.h"
#include "tests/integration/driver/adapterlookup.h"
#include "tests/lab/lab.h"

#include <QtTest>

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>

namespace {

constexpr quint16 kTestEtherType = 0x88B5; // local experimental
constexpr quint16 kUdpPort = 40001;
// Records a 4 MiB ring holds: the kernel header (8) plus the length word and a full frame,
// rounded up to 8 bytes.
constexpr int kRingRecords = int((4u << 20) / ((8 + FrameRing::kRecordPayloadSize + 7) & ~7u));

// A packet socket bound to one interface of the namespace it was made in.
class RawSocket
{
public:
    explicit RawSocket(const char *ifname)
    {
        m_fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0); // sends only
        std::memset(&m_at, 0, sizeof m_at);
        m_at.sll_family = AF_PACKET;
        m_at.sll_ifindex = static_cast<int>(if_nametoindex(ifname));
        m_at.sll_halen = ETH_ALEN;
    }
    ~RawSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isValid() const { return m_fd >= 0 && m_at.sll_ifindex > 0; }
    bool send(const QByteArray &frame)
    {
        return ::sendto(m_fd, frame.constData(), size_t(frame.size()), 0, reinterpret_cast<const sockaddr *>(&m_at),
                        sizeof m_at) == frame.size();
    }

private:
    int m_fd = -1;
    sockaddr_ll m_at;
};

// A frame of the test type: broadcast, sequence number in the first four payload bytes,
// then bytes that depend on the sequence number and their position.
QByteArray testFrame(quint32 sequence, int size)
{
    QByteArray f(size, '\0');
    std::memset(f.data(), 0xff, ETH_ALEN);
    std::memset(f.data() + ETH_ALEN, 0x02, ETH_ALEN);
    f[12] = char(kTestEtherType >> 8);
    f[13] = char(kTestEtherType & 0xff);
    qToBigEndian(sequence, f.data() + ETH_HLEN);
    for (int i = ETH_HLEN + 4; i < size; ++i)
        f[i] = char(sequence * 7 + quint32(i) * 13);
    return f;
}

bool isTestFrame(const PacketBuffer &b)
{
    return b.length >= ETH_HLEN + 4 && b.frame[12] == (kTestEtherType >> 8) && b.frame[13] == (kTestEtherType & 0xff);
}

quint32 sequenceOf(const QByteArray &frame)
{
    return qFromBigEndian<quint32>(frame.constData() + ETH_HLEN);
}

struct Received {
    QList<QByteArray> wire, stack; // test frames by direction, in read order
    QList<QByteArray> udp;         // IPv4 UDP frames to kUdpPort from the stack
};

// Reads until the driver's queue is empty, keeping the frames the tests sent.
void readAll(CNdisApi &api, AdapterHandle adapter, Received &into)
{
    auto buffer = std::make_unique<PacketBuffer>();
    PacketRequest request{adapter, buffer.get()};
    while (api.readPacket(request)) {
        const QByteArray bytes(reinterpret_cast<const char *>(buffer->frame), int(buffer->length));
        if (isTestFrame(*buffer))
            (buffer->direction == PacketFromWire ? into.wire : into.stack) << bytes;
        else if (buffer->length > 42 && buffer->frame[12] == 0x08 && buffer->frame[13] == 0 && buffer->frame[23] == 17
                 && qFromBigEndian<quint16>(buffer->frame + 36) == kUdpPort && buffer->direction == PacketFromStack)
            into.udp << bytes;
    }
}

QList<quint32> sequences(const QList<QByteArray> &frames)
{
    QList<quint32> list;
    for (const QByteArray &f : frames)
        list << sequenceOf(f);
    return list;
}

QList<quint32> range(quint32 count)
{
    QList<quint32> list;
    for (quint32 i = 0; i < count; ++i)
        list << i;
    return list;
}

} // namespace

class TestFrameRing : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void portHasRings();
    void withoutRingsTheTapsCarryEverything();
    void framesKeepBytesAndLength_data();
    void framesKeepBytesAndLength();
    void burstBeyondTheRingIsComplete_data();
    void burstBeyondTheRingIsComplete();
    void framesTheRingLeavesToTheTap_data();
    void framesTheRingLeavesToTheTap();
    void flushEmptiesTheRings();
    void eventFollowsEveryFrameAfterAnEmptyRead_data();
    void eventFollowsEveryFrameAfterAnEmptyRead();

private:
    qint64 tapTxPackets(const QByteArray &tap);
    bool sendBurst(bool fromWire, quint32 first, quint32 count, int size,
                   const std::function<void(quint32)> &between = {});

    std::unique_ptr<Lab> m_lab;
    QString m_client, m_middle;
    std::unique_ptr<RawSocket> m_clientSocket; // on the client's eth0
    std::unique_ptr<RawSocket> m_middleSocket; // on the middle's lan0
    int m_lanIndex = 0;
};

void TestFrameRing::init()
{
    QString why;
    if (!Lab::available(&why))
        QSKIP(qPrintable(why));
    m_lab = std::make_unique<Lab>();
    m_client = m_lab->addHost(QStringLiteral("client"));
    m_middle = m_lab->addHost(QStringLiteral("middle"));
    QVERIFY(!m_client.isEmpty() && !m_middle.isEmpty());
    m_lab->addLink(m_client, "eth0", m_middle, "lan0");
    m_lab->addAddress(m_client, "eth0", "192.168.51.10/24");
    m_lab->addAddress(m_middle, "lan0", "192.168.51.1/24");
    QVERIFY(m_lab->ping(m_client, QStringLiteral("192.168.51.1")));
    QVERIFY(m_lab->enter(m_client));
    m_clientSocket = std::make_unique<RawSocket>("eth0");
    m_lab->leave();
    QVERIFY(m_lab->enter(m_middle));
    m_middleSocket = std::make_unique<RawSocket>("lan0");
    m_lanIndex = int(if_nametoindex("lan0"));
    m_lab->leave();
    QVERIFY(m_clientSocket->isValid() && m_middleSocket->isValid());
}

void TestFrameRing::cleanup()
{
    m_clientSocket.reset();
    m_middleSocket.reset();
    if (m_lab) {
        m_lab->leave();
        m_lab->cleanup();
    }
    m_lab.reset();
}

qint64 TestFrameRing::tapTxPackets(const QByteArray &tap)
{
    const Lab::Result r = m_lab->run(m_middle, {"cat", "/sys/class/net/" + QString::fromLatin1(tap) + "/statistics/tx_packets"});
    return r.exitCode == 0 ? r.out.trimmed().toLongLong() : -1;
}

bool TestFrameRing::sendBurst(bool fromWire, quint32 first, quint32 count, int size,
                              const std::function<void(quint32)> &between)
{
    RawSocket &socket = fromWire ? *m_clientSocket : *m_middleSocket;
    for (quint32 i = first; i < first + count; ++i) {
        if (!socket.send(testFrame(i, size)))
            return false;
        if (between)
            between(i);
    }
    return true;
}

// Without a ring the tests below would pass through the TAPs alone; the port must have them here.
void TestFrameRing::portHasRings()
{
    QVERIFY(m_lab->enter(m_middle));
    const BpfPrograms::ChecksumProbe probe = BpfPrograms::checksumProbe(KernelBtf());
    QVERIFY(probe.valid);
    AdapterPort port(m_lanIndex, probe);
    QVERIFY(port.isValid());
    QVERIFY(port.hasRings());
    QVERIFY(port.setMode(0x03));
    m_lab->leave();
}

// A port whose kernel cannot give it rings says so once and works through its TAPs alone.
void TestFrameRing::withoutRingsTheTapsCarryEverything()
{
    QVERIFY(m_lab->enter(m_middle));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("read from TAPs only")));
    AdapterPort port(m_lanIndex, BpfPrograms::ChecksumProbe{});
    QVERIFY(port.isValid());
    QVERIFY(!port.hasRings());
    QVERIFY(port.setMode(0x03));
    const qint64 wireTap = tapTxPackets(DriverNames::wireTapName(m_lanIndex));
    QVERIFY(sendBurst(true, 0, 20, 1514));
    QVERIFY(sendBurst(false, 0, 20, 60));
    QList<quint32> wire, stack;
    auto buffer = std::make_unique<PacketBuffer>();
    while (port.read(*buffer))
        if (isTestFrame(*buffer)) {
            const QByteArray f(reinterpret_cast<const char *>(buffer->frame), int(buffer->length));
            QCOMPARE(f, testFrame(sequenceOf(f), buffer->direction == PacketFromWire ? 1514 : 60));
            (buffer->direction == PacketFromWire ? wire : stack) << sequenceOf(f);
        }
    QCOMPARE(wire, range(20));
    QCOMPARE(stack, range(20));
    QVERIFY(tapTxPackets(DriverNames::wireTapName(m_lanIndex)) >= wireTap + 20);
    m_lab->leave();
}

void TestFrameRing::framesKeepBytesAndLength_data()
{
    QTest::addColumn<int>("size");
    for (int size : {60, 61, 64, 127, 128, 1000, 1499, 1513, 1514})
        QTest::newRow(qPrintable(QString::number(size))) << size;
}

// Frames of every size travel through the rings (the TAPs carry none of them) and come out
// byte for byte with their length, in both directions.
void TestFrameRing::framesKeepBytesAndLength()
{
    QFETCH(int, size);
    QVERIFY(m_lab->enter(m_middle));
    CNdisApi api("TRNWICK");
    AdapterHandle lan = 0;
    QVERIFY(adapterHandle(api, "lan0", lan));
    QVERIFY(api.setAdapterMode(lan, 0x03));
    QVERIFY(api.flushAdapterQueue(lan));
    const qint64 wireTap = tapTxPackets(DriverNames::wireTapName(m_lanIndex));
    const qint64 hostTap = tapTxPackets(DriverNames::hostTapName(m_lanIndex));
    QVERIFY(sendBurst(true, 0, 3, size));
    QVERIFY(sendBurst(false, 0, 3, size));
    Received got;
    readAll(api, lan, got);
    QCOMPARE(got.wire.size(), 3);
    QCOMPARE(got.stack.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(got.wire[i], testFrame(quint32(i), size));
        QCOMPARE(got.stack[i], testFrame(quint32(i), size));
    }
    QCOMPARE(tapTxPackets(DriverNames::wireTapName(m_lanIndex)), wireTap);
    QCOMPARE(tapTxPackets(DriverNames::hostTapName(m_lanIndex)), hostTap);
    m_lab->leave();
}

void TestFrameRing::burstBeyondTheRingIsComplete_data()
{
    QTest::addColumn<bool>("fromWire");
    QTest::addColumn<int>("readEvery"); // frames sent between reads during the burst; 0: none
    QTest::addColumn<int>("readAtMost"); // frames taken at each of those reads
    for (bool fromWire : {true, false}) {
        const char *side = fromWire ? "wire" : "stack";
        QTest::newRow(qPrintable(QStringLiteral("%1, read after").arg(side))) << fromWire << 0 << 0;
        // The ring never runs empty: later frames wait behind the overflow in the TAP.
        QTest::newRow(qPrintable(QStringLiteral("%1, read some during").arg(side))) << fromWire << 500 << 300;
        // Ring and TAP run empty: the spill ends and the ring takes frames again.
        QTest::newRow(qPrintable(QStringLiteral("%1, read empty during").arg(side))) << fromWire << 1000 << 100000;
    }
}

// A burst of twice what a ring holds: the overflow takes the TAP and nothing is lost or
// reordered, whether the queue is read after the burst or now and then while it goes on
// (after an overflow the TAP takes every frame until it was read empty). One sender here,
// so one producer: with frames from several processors at once, a frame that found room in
// the ring just as another overflowed can still overtake it.
void TestFrameRing::burstBeyondTheRingIsComplete()
{
    QFETCH(bool, fromWire);
    QFETCH(int, readEvery);
    QFETCH(int, readAtMost);
    const quint32 count = 2 * kRingRecords;
    QVERIFY(m_lab->enter(m_middle));
    CNdisApi api("TRNWICK");
    AdapterHandle lan = 0;
    QVERIFY(adapterHandle(api, "lan0", lan));
    QVERIFY(api.setAdapterMode(lan, 0x03));
    QVERIFY(api.flushAdapterQueue(lan));
    const QByteArray tap = fromWire ? DriverNames::wireTapName(m_lanIndex) : DriverNames::hostTapName(m_lanIndex);
    const qint64 tapBefore = tapTxPackets(tap);
    Received got;
    // Reads now and then, after the ring first overflowed.
    const auto readSome = [&](quint32 i) {
        if (readEvery > 0 && i > quint32(kRingRecords) && i % quint32(readEvery) == 0) {
            auto buffer = std::make_unique<PacketBuffer>();
            PacketRequest request{lan, buffer.get()};
            for (int n = 0; n < readAtMost && api.readPacket(request); ++n)
                if (isTestFrame(*buffer))
                    (buffer->direction == PacketFromWire ? got.wire : got.stack)
                        << QByteArray(reinterpret_cast<const char *>(buffer->frame), int(buffer->length));
        }
    };
    QVERIFY(sendBurst(fromWire, 0, count, 200, readSome));
    QTest::qWait(100);
    readAll(api, lan, got);
    const QList<QByteArray> &frames = fromWire ? got.wire : got.stack;
    QCOMPARE(fromWire ? got.stack.size() : got.wire.size(), 0);
    const QList<quint32> seen = sequences(frames);
    const qint64 overflow = tapTxPackets(tap) - tapBefore;
    QVERIFY2(readEvery > 0 ? overflow > 0 : overflow >= qint64(count) - kRingRecords, qPrintable(QString::number(overflow)));
    QCOMPARE(seen, range(count));
    for (const QByteArray &f : frames)
        if (f != testFrame(sequenceOf(f), 200))
            QFAIL(qPrintable(QStringLiteral("frame %1 changed").arg(sequenceOf(f))));
    m_lab->leave();
}

void TestFrameRing::framesTheRingLeavesToTheTap_data()
{
    QTest::addColumn<QString>("offloads");  // ethtool -K settings of the middle's lan0
    QTest::addColumn<int>("segment");       // UDP_SEGMENT size, 0 for none
    QTest::addColumn<int>("payload");
    QTest::addColumn<bool>("viaTap");
    QTest::newRow("GSO datagram, segmented by the TAP") << "tx on" << 1000 << 8000 << true;
    QTest::newRow("partial checksum, completed by the TAP") << "tx on" << 0 << 1200 << true;
    QTest::newRow("complete checksum, through the ring") << "tx off" << 0 << 1200 << false;
}

// The host's stack sends UDP to a neighbour: a GSO datagram bigger than a PacketBuffer and a
// datagram whose checksum the device is to finish take the TAP, which hands them over in
// MTU-sized frames with their checksums complete; a finished datagram takes the ring.
void TestFrameRing::framesTheRingLeavesToTheTap()
{
    QFETCH(QString, offloads);
    QFETCH(int, segment);
    QFETCH(int, payload);
    QFETCH(bool, viaTap);
    QStringList ethtool{"ethtool", "-K", "lan0"};
    ethtool << offloads.split(' ');
    QCOMPARE(m_lab->run(m_middle, ethtool).exitCode, 0);
    QCOMPARE(m_lab->ip(m_middle, {"neigh", "replace", "192.168.51.99", "lladdr", "02:00:00:00:00:99", "nud",
                                  "permanent", "dev", "lan0"}).exitCode, 0);
    QVERIFY(m_lab->enter(m_middle));
    CNdisApi api("TRNWICK");
    AdapterHandle lan = 0;
    QVERIFY(adapterHandle(api, "lan0", lan));
    QVERIFY(api.setAdapterMode(lan, 0x01));
    QVERIFY(api.flushAdapterQueue(lan));
    const qint64 tapBefore = tapTxPackets(DriverNames::hostTapName(m_lanIndex));

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QVERIFY(fd >= 0);
    // A frame the driver drops instead of consuming would fail the send (UDP only tells with this).
    const int on = 1;
    QCOMPARE(setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on), 0);
    if (segment > 0)
        QCOMPARE(setsockopt(fd, SOL_UDP, UDP_SEGMENT, &segment, sizeof segment), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kUdpPort);
    inet_pton(AF_INET, "192.168.51.99", &to.sin_addr);
    QByteArray data(payload, '\0');
    for (int i = 0; i < payload; ++i)
        data[i] = char(i * 31);
    const ssize_t sent = ::sendto(fd, data.constData(), size_t(payload), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    ::close(fd);
    QCOMPARE(sent, ssize_t(payload));
    QTest::qWait(50);

    Received got;
    readAll(api, lan, got);
    const int expected = segment > 0 ? (payload + segment - 1) / segment : 1;
    QCOMPARE(got.udp.size(), expected);
    QByteArray carried;
    for (QByteArray &f : got.udp) {
        QVERIFY(f.size() <= int(kMaxFrameSize));
        IPv4View ip(ByteView(reinterpret_cast<quint8 *>(f.data()) + ETH_HLEN, std::size_t(f.size()) - ETH_HLEN));
        QVERIFY(ip.valid());
        QVERIFY(Checksum::verifyIPv4Header(ip));
        QVERIFY2(Checksum::verifyUDP(ip), "UDP checksum complete");
        carried += f.mid(ETH_HLEN + int(ip.headerLength()) + 8, int(ip.totalLength() - ip.headerLength()) - 8);
    }
    QCOMPARE(carried, data);
    const qint64 tapFrames = tapTxPackets(DriverNames::hostTapName(m_lanIndex)) - tapBefore;
    QVERIFY2(viaTap ? tapFrames >= expected : tapFrames == 0, qPrintable(QString::number(tapFrames)));
    m_lab->leave();
}

// Frames waiting in the rings (and TAPs) at a flush are gone after it; the adapter carries
// traffic as before once the object is gone.
void TestFrameRing::flushEmptiesTheRings()
{
    QVERIFY(m_lab->enter(m_middle));
    {
        CNdisApi api("TRNWICK");
        AdapterHandle lan = 0;
        QVERIFY(adapterHandle(api, "lan0", lan));
        QVERIFY(api.setAdapterMode(lan, 0x03));
        const qint64 wireTap = tapTxPackets(DriverNames::wireTapName(m_lanIndex));
        QVERIFY(sendBurst(true, 0, 50, 300));
        QVERIFY(sendBurst(false, 0, 50, 300));
        QCOMPARE(tapTxPackets(DriverNames::wireTapName(m_lanIndex)), wireTap); // all in the ring
        QVERIFY(api.flushAdapterQueue(lan));
        Received got;
        readAll(api, lan, got);
        QCOMPARE(got.wire.size(), 0);
        QCOMPARE(got.stack.size(), 0);
        // The ring goes on after a flush.
        QVERIFY(sendBurst(true, 50, 2, 300));
        readAll(api, lan, got);
        QCOMPARE(sequences(got.wire), (QList<quint32>{50, 51}));
    }
    m_lab->leave();
    QVERIFY(m_lab->ping(m_client, QStringLiteral("192.168.51.1"), 2));
    const Lab::Result big = m_lab->run(m_client, {"ping", "-c", "2", "-i", "0.2", "-W", "1", "-s", "1472", "-M", "do",
                                                  "192.168.51.1"});
    QCOMPARE(big.exitCode, 0);
}

void TestFrameRing::eventFollowsEveryFrameAfterAnEmptyRead_data()
{
    QTest::addColumn<bool>("fromWire");
    QTest::newRow("wire") << true;
    QTest::newRow("stack") << false;
}

// Many times over: the queue is read empty, the event reset, then one frame arrives; the event
// must come up for it. Also when a frame is already waiting in the ring when the event is reset.
void TestFrameRing::eventFollowsEveryFrameAfterAnEmptyRead()
{
    QFETCH(bool, fromWire);
    QVERIFY(m_lab->enter(m_middle));
    CNdisApi api("TRNWICK");
    AdapterHandle lan = 0;
    QVERIFY(adapterHandle(api, "lan0", lan));
    WaitEvent stop, packet;
    QVERIFY(api.setPacketEvent(lan, packet.nativeHandle()));
    QVERIFY(api.setAdapterMode(lan, 0x03));
    QVERIFY(api.flushAdapterQueue(lan));
    Received got;
    for (quint32 i = 0; i < 300; ++i) {
        readAll(api, lan, got);
        packet.reset();
        QVERIFY(sendBurst(fromWire, i, 1, 100));
        if (WaitEvent::waitAny(stop, packet, 2000) != WaitEvent::SecondSignalled)
            QFAIL(qPrintable(QStringLiteral("no event for frame %1").arg(i)));
    }
    readAll(api, lan, got);
    QCOMPARE(sequences(fromWire ? got.wire : got.stack), range(300));

    // Two frames, one read: the event stays up for the one left in the ring.
    QVERIFY(sendBurst(fromWire, 300, 2, 100));
    QCOMPARE(WaitEvent::waitAny(stop, packet, 2000), WaitEvent::SecondSignalled);
    auto buffer = std::make_unique<PacketBuffer>();
    PacketRequest request{lan, buffer.get()};
    int read = 0;
    while (read < 1 && api.readPacket(request))
        read += isTestFrame(*buffer) ? 1 : 0;
    packet.reset();
    QVERIFY(packet.isSignalled());
    Received rest;
    readAll(api, lan, rest);
    QCOMPARE(sequences(fromWire ? rest.wire : rest.stack), (QList<quint32>{301}));
    QVERIFY(!packet.isSignalled());
    m_lab->leave();
}

QTEST_GUILESS_MAIN(TestFrameRing)
#include "tst_framering.moc"
