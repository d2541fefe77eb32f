// SPDX-License-Identifier: GPL-3.0-or-later
// Bridge-mode sharing end to end: tarnwick-headless joins a client to the upstream network.
//
// Topology (every host a lab namespace):
//
//   phone eth0 ── lan0 [hotspot] pub0 ── eth0 [upstream]
//
// The hotspot runs the runner in bridge mode with lan0 as the private and pub0 (198.51.100.2,
// default route via 198.51.100.1) as the public interface. The upstream host holds
// 198.51.100.1 and runs dnsmasq as the segment's DHCP server and busybox httpd. The phone
// asks for its lease with busybox udhcpc across the bridge; the hotspot adds no address of
// its own on lan0 and serves no DHCP.
#include "tests/lab/dhcpclients.h"
#include "tests/lab/headlessrunner.h"
#include "tests/lab/hostfacts.h"
#include "tests/lab/lab.h"
#include "tests/lab/processlines.h"
#include "tests/lab/scratchdir.h"
#include "tests/lab/webserver.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kUpstream = QStringLiteral("198.51.100.1");
const QString kPublic = QStringLiteral("198.51.100.2");
const QByteArray kPhoneMac = "02:00:00:51:00:01";
constexpr quint16 kBroadcastPort = 9100;

// The interface indexes on which datagrams arrived at `fd` within `timeoutMs`, per payload.
QList<int> arrivals(int fd, const QByteArray &payload, int timeoutMs)
{
    QList<int> indexes;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(timeoutMs - timer.elapsed())) != 1)
            break;
        char data[512];
        char control[256];
        iovec iov{data, sizeof data};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(fd, &msg, 0);
        if (n < 0)
            break;
        if (QByteArray(data, int(n)) != payload)
            continue;
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                indexes << reinterpret_cast<const in_pktinfo *>(CMSG_DATA(c))->ipi_ifindex;
    }
    return indexes;
}

} // namespace

class TestBridgeEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void startsWithoutPrivateAddressOrDhcp();
    void leaseComesFromTheUpstreamServer();
    void acknowledgementAddsTheUser();
    void downloadFromTheUpstreamServer();
    void broadcastsReachTheHostOnBothAdapters_data();
    void broadcastsReachTheHostOnBothAdapters();
    void hostFramesOnTheHotspotSideAreDropped();
    void stopEndsCleanly();

private:
    void buildTopology();
    void startServers();
    QString path(const QString &name) const { return m_dir->path(name); }
    int udpSocket(const QString &host, quint16 port, const QByteArray &device);
    // The host's count of ICMP echo requests received (Icmp InEchos of /proc/net/snmp).
    quint64 echoRequestsReceived(const QString &host) { return m_facts->snmpCounter(host, "Icmp", "InEchos"); }

    std::unique_ptr<Lab> m_lab;
    std::unique_ptr<ScratchDir> m_dir;
    std::unique_ptr<HostFacts> m_facts;
    std::unique_ptr<WebServer> m_web;
    std::unique_ptr<HeadlessRunner> m_runner; // goes before the lab
    QString m_phone, m_hotspot, m_upstream;
    int m_started = -1; // where "state Started" stands in the runner's output
    QByteArray m_lease;
};

// A UDP socket of `host` on any address and `port`, tied to `device` when one is given,
// allowed to send broadcasts and told the arrival interface of every datagram.
int TestBridgeEndToEnd::udpSocket(const QString &host, quint16 port, const QByteArray &device)
{
    if (!m_lab->enter(host))
        return -1;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    m_lab->leave();
    if (fd < 0)
        return -1;
    const int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    const bool ok = setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0
        && setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0
        && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0
        && (device.isEmpty()
            || setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.constData(), socklen_t(device.size())) == 0)
        && bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) == 0;
    if (!ok) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void TestBridgeEndToEnd::buildTopology()
{
    Lab::SharingHosts hosts;
    QVERIFY(m_lab->addSharingHosts(hosts));
    m_phone = hosts.client;
    m_hotspot = hosts.hotspot;
    m_upstream = hosts.upstream;
    QCOMPARE(m_lab->ip(m_phone, {"link", "set", "eth0", "address", kPhoneMac}).exitCode, 0);
    m_lab->addRoute(m_hotspot, {"default", "via", kUpstream});
}

void TestBridgeEndToEnd::startServers()
{
    m_web = std::make_unique<WebServer>(*m_lab, *m_dir);
    QVERIFY(m_web->start(m_upstream, kUpstream, 2 * 1024 * 1024 + 29));
    ProcessLines dnsmasq(m_lab->start(m_upstream, {"dnsmasq", "--no-daemon", "--conf-file=/dev/null", "--port=0",
                                                   "--dhcp-range=198.51.100.100,198.51.100.150,255.255.255.0,1h",
                                                   "--dhcp-option=3," + kUpstream, "--interface=eth0",
                                                   "--bind-interfaces", "--dhcp-leasefile=" + path("leases"),
                                                   "--log-dhcp", "--log-facility=-", "--pid-file="}));
    QVERIFY2(!dnsmasq.next("DHCP, IP range", 10000).isEmpty(), dnsmasq.seen().constData());
}

void TestBridgeEndToEnd::initTestCase()
{
    LAB_SKIP_UNLESS_AVAILABLE();
    m_dir = std::make_unique<ScratchDir>();
    QVERIFY(m_dir->isValid());
    // Prints what udhcpc learnt and configures nothing, so the phone sends no IPv4 of its
    // own until the test gives it the address.
    QVERIFY(m_dir->write("udhcpc.sh", DhcpClients::udhcpcScript(DhcpClients::Setup::None), true));
    m_lab = std::make_unique<Lab>();
    m_facts = std::make_unique<HostFacts>(*m_lab);
    buildTopology();
    startServers();
    // UPnP off: bridge mode still runs the upstream client role.
    m_runner = std::make_unique<HeadlessRunner>(*m_lab, m_hotspot, TARNWICK_HEADLESS);
    QVERIFY(m_runner->start({{"networkMode", "bridge"}, {"publicNetworkInterfaceName", "pub0"},
                             {"privateNetworkInterfaceName", "lan0"}, {"upnpEnabled", "false"}}));
    m_started = m_runner->waitFor("state Started", 30000);
    QVERIFY2(m_started >= 0, m_runner->output().constData());
}

void TestBridgeEndToEnd::cleanupTestCase()
{
    m_runner.reset();
    m_lab.reset();
    m_dir.reset();
}

void TestBridgeEndToEnd::startsWithoutPrivateAddressOrDhcp()
{
    QCOMPARE(m_runner->states(), (QByteArrayList{"Starting", "ConfiguringSharing", "SharingConfigured",
                                                 "ConfiguringInternet", "InternetConfigured", "Started"}));
    QVERIFY(!m_runner->output().contains("error "));
    QCOMPARE(m_facts->addresses(m_hotspot, "lan0"), QStringList{});
    const Lab::Result sockets = m_lab->run(m_hotspot, {"ss", "-H", "-uan", "sport", "=", ":67"});
    QCOMPARE(sockets.exitCode, 0);
    QVERIFY2(sockets.out.trimmed().isEmpty(), sockets.out.constData());
}

void TestBridgeEndToEnd::leaseComesFromTheUpstreamServer()
{
    const Lab::Result r = m_lab->run(m_phone, {"busybox", "udhcpc", "-i", "eth0", "-n", "-q", "-f", "-t", "5", "-T",
                                               "2", "-x", "hostname:phone1", "-s", path("udhcpc.sh")}, 30000);
    QByteArray bound;
    for (const QByteArray &line : r.out.split('\n'))
        if (line.startsWith("event=bound"))
            bound = line;
    QVERIFY2(!bound.isEmpty(), (r.out + r.err).constData());
    const auto got = DhcpClients::fields(bound);
    QVERIFY2(DhcpClients::inRange(got.value("ip"), "198.51.100.100", "198.51.100.150"), bound.constData());
    QCOMPARE(got.value("subnet"), QByteArray("255.255.255.0"));
    QCOMPARE(got.value("router"), kUpstream.toLatin1());
    QCOMPARE(got.value("serverid"), kUpstream.toLatin1());
    m_lease = got.value("ip");

    QFile leases(path("leases"));
    QVERIFY(leases.open(QIODevice::ReadOnly));
    const QByteArray recorded = leases.readAll();
    QVERIFY2(recorded.contains(kPhoneMac + ' ' + m_lease + " phone1"), recorded.constData());
}

// The phone has not configured its address yet, so only the acknowledgement can have
// told the hotspot about it.
void TestBridgeEndToEnd::acknowledgementAddsTheUser()
{
    QVERIFY(!m_lease.isEmpty());
    QVERIFY(m_facts->addresses(m_phone, "eth0").isEmpty());
    const QByteArray user = "user " + m_lease + ' ' + kPhoneMac + " phone1";
    QVERIFY2(m_runner->waitFor(user, 10000, m_started) >= 0, m_runner->output().constData());
}

// No translation in bridge mode: the server sees the phone's own address.
void TestBridgeEndToEnd::downloadFromTheUpstreamServer()
{
    QVERIFY(!m_lease.isEmpty());
    m_lab->addAddress(m_phone, "eth0", m_lease + "/24");
    m_lab->addRoute(m_phone, {"default", "via", kUpstream});
    const Lab::Result get = m_lab->run(m_phone, {"curl", "-sS", "--max-time", "30", "-o", path("download"),
                                                 "http://" + kUpstream + "/blob"}, 40000);
    QVERIFY2(get.exitCode == 0, get.err.constData());
    QCOMPARE(m_dir->sha256("download"), m_web->blobSha());
    const Lab::Result peer = m_lab->run(m_phone, {"curl", "-sS", "--max-time", "10",
                                                  "http://" + kUpstream + "/cgi-bin/peer"});
    QCOMPARE(peer.out.trimmed(), m_lease);
}

void TestBridgeEndToEnd::broadcastsReachTheHostOnBothAdapters_data()
{
    QTest::addColumn<bool>("fromPhone");
    QTest::newRow("from the hotspot side") << true;
    QTest::newRow("from the Internet side") << false;
}

// A datagram to 255.255.255.255 arrives at the hotspot's own stack once on lan0 and once on
// pub0, and crosses to the far side of the bridge.
void TestBridgeEndToEnd::broadcastsReachTheHostOnBothAdapters()
{
    QFETCH(bool, fromPhone);
    QVERIFY(!m_lease.isEmpty());
    const QString sender = fromPhone ? m_phone : m_upstream;
    const QString farSide = fromPhone ? m_upstream : m_phone;
    const int hotspot = udpSocket(m_hotspot, kBroadcastPort, {});
    const int far = udpSocket(farSide, kBroadcastPort, {});
    const int out = udpSocket(sender, 0, "eth0");
    QVERIFY(hotspot >= 0 && far >= 0 && out >= 0);
    const QByteArray payload = "broadcast " + QByteArray::number(QRandomGenerator::global()->generate());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kBroadcastPort);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    const ssize_t sent = sendto(out, payload.constData(), size_t(payload.size()), 0,
                                reinterpret_cast<const sockaddr *>(&to), sizeof to);
    const QList<int> atHotspot = arrivals(hotspot, payload, 2000);
    const QList<int> atFarSide = arrivals(far, payload, 500);
    for (int fd : {hotspot, far, out})
        ::close(fd);
    QCOMPARE(sent, ssize_t(payload.size()));
    QList<int> sorted = atHotspot;
    std::sort(sorted.begin(), sorted.end());
    QList<int> expected{m_facts->ifindex(m_hotspot, "lan0"), m_facts->ifindex(m_hotspot, "pub0")};
    std::sort(expected.begin(), expected.end());
    QCOMPARE(sorted, expected);
    QCOMPARE(atFarSide, QList<int>{m_facts->ifindex(farSide, "eth0")});
}

// The hotspot's own IPv4 frames leaving on lan0 are dropped, and so are its unicast ARP
// frames there; its broadcasts cross. It still reaches the phone through pub0, where the
// engine knows the phone as a user and sends across.
void TestBridgeEndToEnd::hostFramesOnTheHotspotSideAreDropped()
{
    QVERIFY(!m_lease.isEmpty());
    const QString lease = QString::fromLatin1(m_lease);
    const quint64 before = echoRequestsReceived(m_phone);
    const Lab::Result viaPublic = m_lab->run(m_hotspot, {"ping", "-n", "-c", "2", "-i", "0.2", "-W", "2", lease});
    QVERIFY2(viaPublic.exitCode == 0, viaPublic.out.constData());
    QCOMPARE(echoRequestsReceived(m_phone), before + 2);

    // The phone's ARP request for the hotspot's address is answered once, from pub0: the
    // answer the host's stack gives on lan0 is a unicast ARP frame it sent there.
    const QByteArray pubMac = m_facts->mac(m_hotspot, "pub0");
    const Lab::Result arping = m_lab->run(m_phone, {"busybox", "arping", "-c", "2", "-w", "3", "-I", "eth0", kPublic});
    QByteArrayList replies;
    for (const QByteArray &line : arping.out.split('\n'))
        if (line.contains("reply from"))
            replies << line;
    QVERIFY2(replies.size() == 2, arping.out.constData());
    for (const QByteArray &reply : replies)
        QVERIFY2(reply.toLower().contains(pubMac), arping.out.constData());

    QCOMPARE(m_lab->ip(m_hotspot, {"route", "add", lease + "/32", "dev", "lan0"}).exitCode, 0);
    const Lab::Result viaPrivate = m_lab->run(m_hotspot, {"ping", "-n", "-c", "3", "-i", "0.2", "-W", "1", lease});
    QCOMPARE(m_lab->ip(m_hotspot, {"route", "del", lease + "/32", "dev", "lan0"}).exitCode, 0);
    QVERIFY2(viaPrivate.exitCode != 0, viaPrivate.out.constData());
    QCOMPARE(echoRequestsReceived(m_phone), before + 2);
    // The ARP exchange itself crossed: the host's broadcast request and the phone's reply.
    const QByteArray neighbour = m_lab->ip(m_hotspot, {"neigh", "show", lease, "dev", "lan0"}).out;
    QVERIFY2(neighbour.contains("lladdr " + kPhoneMac), neighbour.constData());
}

void TestBridgeEndToEnd::stopEndsCleanly()
{
    // Ends by itself, normally and with exit code 0, after the stop sequence.
    QVERIFY2(m_runner->stop(15000), m_runner->output().constData());
    const QByteArray &output = m_runner->output();
    const int stopping = output.indexOf("state Stopping\n");
    QVERIFY2(stopping > 0 && output.endsWith("state Stopped\n"), output.constData());
    QVERIFY2(output.indexOf("user " + m_lease + " gone\n", stopping) > 0, output.constData());
    QCOMPARE(m_facts->addresses(m_hotspot, "lan0"), QStringList{});
    // Without the bridge the phone's lease address no longer reaches the upstream network.
    QVERIFY(m_lab->run(m_phone, {"ping", "-n", "-c", "1", "-W", "1", kUpstream}).exitCode != 0);
}

QTEST_GUILESS_MAIN(TestBridgeEndToEnd)
#include "tst_bridgee2e.moc"
