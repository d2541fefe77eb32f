// SPDX-License-Identifier: GPL-3.0-or-later
// Frames sent to the wire while the engine drains a queue are on the wire once a read finds it empty.
//
// Topology: client (192.168.51.10) — lan0 [middle] wan0 — server. The driver filters lan0
// so that the client's frames make a queue to drain; the server captures what reaches it.
#include "engine/cndisapi.h"
#include "tests/integration/driver/adapterlookup.h"
#include "tests/lab/lab.h"

#include <QtTest>

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace {

constexpr quint16 kTestEtherType = 0x88B5; // local experimental
constexpr int kFrames = 20;                // fewer than a batch holds

// A packet socket on the server's eth0 that sees only frames of the test type.
class Capture
{
public:
    Capture()
    {
        m_fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(kTestEtherType));
        sockaddr_ll at;
        std::memset(&at, 0, sizeof at);
        at.sll_family = AF_PACKET;
        at.sll_protocol = htons(kTestEtherType);
        at.sll_ifindex = static_cast<int>(if_nametoindex("eth0"));
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<const sockaddr *>(&at), sizeof at) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Capture()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isValid() const { return m_fd >= 0; }

    // Frames that arrive within `waitMs`, each carrying its sequence number in its first payload byte.
    QList<int> take(int waitMs)
    {
        QList<int> seen;
        pollfd p{m_fd, POLLIN, 0};
        while (::poll(&p, 1, waitMs) > 0) {
            unsigned char frame[ETH_FRAME_LEN];
            const ssize_t n = ::recv(m_fd, frame, sizeof frame, 0);
            if (n > ETH_HLEN)
                seen.append(frame[ETH_HLEN]);
            waitMs = 0; // only what is already there after the first
        }
        return seen;
    }

private:
    int m_fd = -1;
};

QList<int> sequence(int from, int count)
{
    QList<int> list;
    for (int i = from; i < from + count; ++i)
        list.append(i);
    return list;
}

} // namespace

class TestWireBatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void sentFramesLeaveBeforeTheQueueReadsEmpty_data();
    void sentFramesLeaveBeforeTheQueueReadsEmpty();

private:
    std::unique_ptr<Lab> m_lab;
    QString m_client, m_middle, m_server;
};

void TestWireBatch::init()
{
    QString why;
    if (!Lab::available(&why))
        QSKIP(qPrintable(why));
    m_lab = std::make_unique<Lab>();
    m_client = m_lab->addHost(QStringLiteral("client"));
    m_middle = m_lab->addHost(QStringLiteral("middle"));
    m_server = m_lab->addHost(QStringLiteral("server"));
    QVERIFY(!m_client.isEmpty() && !m_middle.isEmpty() && !m_server.isEmpty());
    m_lab->addLink(m_client, "eth0", m_middle, "lan0");
    m_lab->addLink(m_middle, "wan0", m_server, "eth0");
    m_lab->addAddress(m_client, "eth0", "192.168.51.10/24");
    m_lab->addAddress(m_middle, "lan0", "192.168.51.1/24");
}

void TestWireBatch::cleanup()
{
    if (m_lab)
        m_lab->cleanup();
    m_lab.reset();
}

void TestWireBatch::sentFramesLeaveBeforeTheQueueReadsEmpty_data()
{
    QTest::addColumn<bool>("filterWan");
    QTest::newRow("adapter not filtered") << false;
    QTest::newRow("adapter filtered") << true; // its egress hook must let the frames pass
}

void TestWireBatch::sentFramesLeaveBeforeTheQueueReadsEmpty()
{
    QFETCH(bool, filterWan);
    QVERIFY(m_lab->enter(m_server));
    Capture capture;
    m_lab->leave();
    QVERIFY(capture.isValid());

    QVERIFY(m_lab->enter(m_middle));
    CNdisApi api("TRNWICK");
    AdapterHandle lan = 0, wan = 0;
    QVERIFY(adapterHandle(api, "lan0", lan));
    QVERIFY(adapterHandle(api, "wan0", wan));
    QVERIFY(api.setAdapterMode(lan, 0x02));
    if (filterWan)
        QVERIFY(api.setAdapterMode(wan, 0x03));
    m_lab->leave();
    // Held by the driver, so the ping fails; its frames wait in lan0's queue.
    m_lab->run(m_client, {"ping", "-n", "-q", "-c", "2", "-i", "0.2", "-W", "1", "192.168.51.1"}, 10000);
    QVERIFY(m_lab->enter(m_middle));

    auto read = std::make_unique<PacketBuffer>();
    PacketRequest readRequest{lan, read.get()};
    QVERIFY(api.readPacket(readRequest)); // inside a drain from here

    auto frame = std::make_unique<PacketBuffer>();
    std::memset(frame->frame, 0xff, ETH_ALEN);          // broadcast
    std::memset(frame->frame + ETH_ALEN, 0x02, ETH_ALEN); // locally administered source
    frame->frame[12] = kTestEtherType >> 8;
    frame->frame[13] = kTestEtherType & 0xff;
    frame->length = ETH_ZLEN;
    frame->direction = PacketFromStack;
    PacketRequest send{wan, frame.get()};
    for (int i = 0; i < kFrames; ++i) {
        frame->frame[ETH_HLEN] = static_cast<unsigned char>(i);
        QVERIFY(api.sendPacketToAdapter(send));
    }
    while (api.readPacket(readRequest)) {
    }
    QCOMPARE(capture.take(1000), sequence(0, kFrames)); // all of them, in order

    // Outside a drain a frame goes at once.
    frame->frame[ETH_HLEN] = kFrames;
    QVERIFY(api.sendPacketToAdapter(send));
    QCOMPARE(capture.take(1000), sequence(kFrames, 1));
    m_lab->leave();
}

QTEST_GUILESS_MAIN(TestWireBatch)
#include "tst_wirebatch.moc"
