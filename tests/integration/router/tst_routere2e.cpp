// SPDX-License-Identifier: GPL-3.0-or-later
// Router-mode sharing end to end: tarnwick-headless between real clients and real servers.
//
// Topology (every host a lab namespace):
//
//   phone eth0 ─┐
//               ├ br0 [switch] ── lan0 [hotspot] pub0 ── eth0 [gateway] eth1 ── eth0 [server]
//   laptop eth0 ┘
//
// The hotspot runs the runner with lan0 as the private and pub0 (198.51.100.2, MTU 1400) as
// the public interface. The gateway (198.51.100.1, 203.0.113.1) forwards to the server,
// which holds 203.0.113.10 (busybox httpd, a UDP echo of the test's own) and 203.0.113.53
// (dnsmasq, the hotspot's DNS server). The phone asks for its lease with busybox udhcpc, the
// laptop with ISC dhclient; both then reach the server only through the hotspot's NAT.
#include "dnsquery.h"
#include "tests/lab/dhcpclients.h"
#include "tests/lab/headlessrunner.h"
#include "tests/lab/hostfacts.h"
#include "tests/lab/lab.h"
#include "tests/lab/processlines.h"
#include "tests/lab/scratchdir.h"
#include "tests/lab/webserver.h"

#include <QHostAddress>
#include <QtTest>

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kGateway = QStringLiteral("192.168.51.1");
const QString kPublic = QStringLiteral("198.51.100.2");
const QString kServer = QStringLiteral("203.0.113.10");
const QString kDnsServer = QStringLiteral("203.0.113.53");
const QByteArray kPhoneMac = "02:00:00:51:00:01";
const QByteArray kLaptopMac = "02:00:00:51:00:02";
constexpr int kPublicMtu = 1400;
constexpr quint16 kEchoPort = 9000;

sockaddr_in endpoint(const QString &address, quint16 port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(QHostAddress(address).toIPv4Address());
    return sa;
}

struct Datagram {
    QByteArray data;
    QString from;
    quint16 port = 0;
};

// The next datagram on `fd` within `timeoutMs`; empty data and no sender when none came.
Datagram receive(int fd, int timeoutMs)
{
    Datagram d;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1)
        return d;
    QByteArray buffer(65536, '\0');
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = recvfrom(fd, buffer.data(), size_t(buffer.size()), 0, reinterpret_cast<sockaddr *>(&from),
                               &fromLength);
    if (n < 0)
        return d;
    d.data = buffer.left(int(n));
    d.from = QHostAddress(ntohl(from.sin_addr.s_addr)).toString();
    d.port = ntohs(from.sin_port);
    return d;
}

} // namespace

class TestRouterEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void bothClientsGetLeases();
    void userTableNamesTheClients();
    void dnsQueryAnsweredFromTheGateway();
    void httpDownloadThroughNat_data();
    void httpDownloadThroughNat();
    void pingThroughNat();
    void timeToLiveOneIsAnsweredByTheGateway();
    void largeDatagramCrossesInFragments();
    void hostTrafficKeepsWorking();
    void stopEndsCleanly();

private:
    void buildTopology();
    void startServers();
    void startRunner();
    QString path(const QString &name) const { return m_dir->path(name); }
    // A UDP socket opened inside `host`, bound to address:port (port 0: any).
    int udpSocket(const QString &host, const QString &address, quint16 port);

    std::unique_ptr<Lab> m_lab;
    std::unique_ptr<ScratchDir> m_dir;
    std::unique_ptr<HostFacts> m_facts;
    std::unique_ptr<WebServer> m_web;
    std::unique_ptr<HeadlessRunner> m_runner; // goes before the lab
    std::unique_ptr<ProcessLines> m_dnsmasq;
    QString m_phone, m_laptop, m_switch, m_hotspot, m_gateway, m_server;
    QMap<QString, QByteArray> m_leases;      // client host -> leased address
};

int TestRouterEndToEnd::udpSocket(const QString &host, const QString &address, quint16 port)
{
    if (!m_lab->enter(host))
        return -1;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    m_lab->leave();
    const sockaddr_in local = endpoint(address, port);
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void TestRouterEndToEnd::buildTopology()
{
    m_phone = m_lab->addHost("phone");
    m_laptop = m_lab->addHost("laptop");
    m_switch = m_lab->addHost("switch");
    m_hotspot = m_lab->addHost("hotspot");
    m_gateway = m_lab->addHost("gateway");
    m_server = m_lab->addHost("server");
    for (const QString &host : {m_phone, m_laptop, m_switch, m_hotspot, m_gateway, m_server})
        QVERIFY(!host.isEmpty());

    m_lab->addLink(m_switch, "p0", m_hotspot, "lan0");
    m_lab->addLink(m_switch, "p1", m_phone, "eth0");
    m_lab->addLink(m_switch, "p2", m_laptop, "eth0");
    QVERIFY(m_lab->addBridge(m_switch, "br0", {"p0", "p1", "p2"}));
    QCOMPARE(m_lab->ip(m_phone, {"link", "set", "eth0", "address", kPhoneMac}).exitCode, 0);
    QCOMPARE(m_lab->ip(m_laptop, {"link", "set", "eth0", "address", kLaptopMac}).exitCode, 0);

    m_lab->addLink(m_hotspot, "pub0", m_gateway, "eth0");
    m_lab->addLink(m_gateway, "eth1", m_server, "eth0");
    for (const QString &host : {m_hotspot, m_gateway})
        QCOMPARE(m_lab->ip(host, {"link", "set", host == m_hotspot ? "pub0" : "eth0", "mtu",
                                  QString::number(kPublicMtu)}).exitCode, 0);
    m_lab->addAddress(m_hotspot, "pub0", kPublic + "/24");
    m_lab->addAddress(m_gateway, "eth0", "198.51.100.1/24");
    m_lab->addAddress(m_gateway, "eth1", "203.0.113.1/24");
    m_lab->addAddress(m_server, "eth0", kServer + "/24");
    m_lab->addAddress(m_server, "eth0", kDnsServer + "/24");
    m_lab->addRoute(m_hotspot, {"default", "via", "198.51.100.1"});
    m_lab->addRoute(m_server, {"default", "via", "203.0.113.1"});
    QCOMPARE(m_lab->run(m_gateway, {"sysctl", "-qw", "net.ipv4.ip_forward=1"}).exitCode, 0);
    m_lab->writeEtcFile(m_hotspot, "resolv.conf", ("nameserver " + kDnsServer + "\n").toLatin1());
    for (const QString &client : {m_phone, m_laptop})
        m_lab->writeEtcFile(client, "resolv.conf", ("nameserver " + kGateway + "\n").toLatin1());
}

void TestRouterEndToEnd::startServers()
{
    m_web = std::make_unique<WebServer>(*m_lab, *m_dir);
    m_dnsmasq = std::make_unique<ProcessLines>(
        m_lab->start(m_server, {"dnsmasq", "--no-daemon", "--conf-file=/dev/null", "--no-resolv", "--no-hosts",
                                "--bind-interfaces", "--listen-address=" + kDnsServer,
                                "--address=/example.test/" + kServer, "--log-queries", "--log-facility=-",
                                "--pid-file="}));
    QVERIFY2(!m_dnsmasq->next("started", 10000).isEmpty(), m_dnsmasq->seen().constData());
    QVERIFY(m_web->start(m_server, kServer, 3 * 1024 * 1024 + 17));
}

void TestRouterEndToEnd::startRunner()
{
    m_runner = std::make_unique<HeadlessRunner>(*m_lab, m_hotspot, TARNWICK_HEADLESS);
    QVERIFY(m_runner->start({{"publicNetworkInterfaceName", "pub0"}, {"privateNetworkInterfaceName", "lan0"}}));
    QVERIFY2(m_runner->waitFor("state Started", 30000) >= 0, m_runner->output().constData());
}

void TestRouterEndToEnd::initTestCase()
{
    LAB_SKIP_UNLESS_AVAILABLE();
    m_dir = std::make_unique<ScratchDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(m_dir->write("udhcpc.sh", DhcpClients::udhcpcScript(DhcpClients::Setup::AddressAndRoute), true));
    QVERIFY(DhcpClients::writeDhclientFiles(*m_dir, DhcpClients::Setup::AddressAndRoute, "laptop1"));
    m_lab = std::make_unique<Lab>();
    m_facts = std::make_unique<HostFacts>(*m_lab);
    buildTopology();
    startServers();
    startRunner();
}

void TestRouterEndToEnd::cleanupTestCase()
{
    m_runner.reset();
    m_lab.reset();
    m_dir.reset();
}

void TestRouterEndToEnd::bothClientsGetLeases()
{
    ProcessLines udhcpc(m_lab->start(m_phone, {"busybox", "udhcpc", "-i", "eth0", "-f", "-x", "hostname:phone1",
                                               "-s", path("udhcpc.sh")}));
    const QByteArray phone = udhcpc.next("event=bound");
    QVERIFY2(!phone.isEmpty(), udhcpc.seen().constData());
    ProcessLines dhclient(m_lab->start(m_laptop, DhcpClients::dhclientCommand(*m_dir, {"-1", "-d"})));
    const QByteArray laptop = dhclient.next("reason=BOUND");
    QVERIFY2(!laptop.isEmpty(), dhclient.seen().constData());

    for (const auto &[host, line] : {std::pair{m_phone, phone}, std::pair{m_laptop, laptop}}) {
        const auto got = DhcpClients::fields(line);
        QVERIFY2(DhcpClients::inRange(got.value("ip"), "192.168.51.10", "192.168.51.50"), line.constData());
        QCOMPARE(got.value("subnet"), QByteArray("255.255.255.0"));
        QCOMPARE(got.value("router"), kGateway.toLatin1());
        QCOMPARE(got.value("dns"), kGateway.toLatin1());
        QCOMPARE(got.value("lease"), QByteArray("3600"));
        QCOMPARE(got.value("serverid"), kGateway.toLatin1());
        m_leases.insert(host, got.value("ip"));
    }
    QVERIFY(m_leases.value(m_phone) != m_leases.value(m_laptop));
}

void TestRouterEndToEnd::userTableNamesTheClients()
{
    QVERIFY(m_leases.size() == 2);
    const QByteArray phone = "user " + m_leases.value(m_phone) + ' ' + kPhoneMac + " phone1";
    const QByteArray laptop = "user " + m_leases.value(m_laptop) + ' ' + kLaptopMac + " laptop1";
    m_runner->waitFor(laptop, 10000);
    const QByteArray &output = m_runner->output();
    QVERIFY2(output.contains(phone + '\n'), output.constData());
    QVERIFY2(output.contains(laptop + '\n'), output.constData());
}

// The query goes to the gateway address; dnsmasq must see it from the public address, and
// the answer must come back from the gateway's port 53.
void TestRouterEndToEnd::dnsQueryAnsweredFromTheGateway()
{
    QVERIFY(m_leases.contains(m_phone));
    const int fd = udpSocket(m_phone, "0.0.0.0", 0);
    QVERIFY(fd >= 0);
    const DnsQuery query(0x5173, "www.example.test");
    const QByteArray question = query.datagram();
    const sockaddr_in to = endpoint(kGateway, 53);
    QCOMPARE(sendto(fd, question.constData(), size_t(question.size()), 0, reinterpret_cast<const sockaddr *>(&to),
                    sizeof to), ssize_t(question.size()));
    const Datagram answer = receive(fd, 5000);
    ::close(fd);
    QCOMPARE(answer.from, kGateway);
    QCOMPARE(answer.port, quint16(53));
    QCOMPARE(query.addresses(answer.data), QStringList{kServer});
    const QByteArray logged = m_dnsmasq->next("query[A] www.example.test", 5000);
    QVERIFY2(logged.endsWith("from " + kPublic.toLatin1()), logged.constData());
}

void TestRouterEndToEnd::httpDownloadThroughNat_data()
{
    QTest::addColumn<QString>("client");
    QTest::newRow("phone") << m_phone;
    QTest::newRow("laptop") << m_laptop;
}

// By name, so the client's resolver goes through the DNS redirect as well.
void TestRouterEndToEnd::httpDownloadThroughNat()
{
    QFETCH(QString, client);
    QVERIFY(m_leases.contains(client));
    const QString file = "download-" + client.section('-', -1);
    const Lab::Result get = m_lab->run(client, {"curl", "-sS", "--max-time", "30", "-o", path(file),
                                                "http://example.test/blob"}, 40000);
    QVERIFY2(get.exitCode == 0, get.err.constData());
    QCOMPARE(m_dir->sha256(file), m_web->blobSha());

    const Lab::Result peer =
        m_lab->run(client, {"curl", "-sS", "--max-time", "10", "http://example.test/cgi-bin/peer"});
    QCOMPARE(peer.out.trimmed(), kPublic.toLatin1());
}

void TestRouterEndToEnd::pingThroughNat()
{
    for (const QString &client : {m_phone, m_laptop}) {
        const Lab::Result r = m_lab->run(client, {"ping", "-n", "-c", "3", "-i", "0.2", "-W", "2", kServer});
        QVERIFY2(r.exitCode == 0, r.out.constData());
        QVERIFY2(r.out.contains("3 received"), r.out.constData());
    }
}

void TestRouterEndToEnd::timeToLiveOneIsAnsweredByTheGateway()
{
    const Lab::Result r = m_lab->run(m_phone, {"ping", "-n", "-c", "2", "-i", "0.3", "-W", "2", "-t", "1", kServer});
    QVERIFY2(r.out.contains("From " + kGateway.toLatin1() + " icmp_seq=1 Time to live exceeded"), r.out.constData());
    QVERIFY2(r.out.contains("From " + kGateway.toLatin1() + " icmp_seq=2 Time to live exceeded"), r.out.constData());
}

// 4400 bytes leave the phone in three fragments of its 1500-byte link; the hotspot must
// reassemble, translate and cut the datagram again for the 1400-byte public link, where it
// takes four. The server echoes it, so the way back is checked too.
void TestRouterEndToEnd::largeDatagramCrossesInFragments()
{
    QVERIFY(m_leases.contains(m_phone));
    const int server = udpSocket(m_server, kServer, kEchoPort);
    const int phone = udpSocket(m_phone, "0.0.0.0", 0);
    QVERIFY(server >= 0 && phone >= 0);
    QByteArray payload(4400, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char((i * 7 + i / 256) & 0xFF);

    // Ip ReasmReqds: the fragments the server received for reassembly.
    const quint64 before = m_facts->snmpCounter(m_server, "Ip", "ReasmReqds");
    const sockaddr_in to = endpoint(kServer, kEchoPort);
    QCOMPARE(sendto(phone, payload.constData(), size_t(payload.size()), 0, reinterpret_cast<const sockaddr *>(&to),
                    sizeof to), ssize_t(payload.size()));
    const Datagram arrived = receive(server, 5000);
    QCOMPARE(arrived.data.size(), payload.size());
    QVERIFY(arrived.data == payload);
    QCOMPARE(arrived.from, kPublic);
    QCOMPARE(m_facts->snmpCounter(m_server, "Ip", "ReasmReqds") - before, quint64(4));

    const sockaddr_in back = endpoint(arrived.from, arrived.port);
    QCOMPARE(sendto(server, payload.constData(), size_t(payload.size()), 0, reinterpret_cast<const sockaddr *>(&back),
                    sizeof back), ssize_t(payload.size()));
    const Datagram echoed = receive(phone, 5000);
    ::close(server);
    ::close(phone);
    QCOMPARE(echoed.data.size(), payload.size());
    QVERIFY(echoed.data == payload);
    QCOMPARE(echoed.from, kServer);
    QCOMPARE(echoed.port, kEchoPort);
}

// The host's own name look-up, download and ping on the public side while sharing runs.
void TestRouterEndToEnd::hostTrafficKeepsWorking()
{
    const Lab::Result get =
        m_lab->run(m_hotspot, {"curl", "-sS", "--max-time", "30", "http://example.test/cgi-bin/peer"});
    QVERIFY2(get.exitCode == 0, get.err.constData());
    QCOMPARE(get.out.trimmed(), kPublic.toLatin1());
    QCOMPARE(m_lab->run(m_hotspot, {"curl", "-sS", "--max-time", "30", "-o", path("download-hotspot"),
                                    "http://example.test/blob"}, 40000)
                 .exitCode, 0);
    QCOMPARE(m_dir->sha256("download-hotspot"), m_web->blobSha());
    const Lab::Result ping = m_lab->run(m_hotspot, {"ping", "-n", "-c", "3", "-i", "0.2", "-W", "2", kServer});
    QVERIFY2(ping.exitCode == 0, ping.out.constData());
    QVERIFY(m_runner->running());
}

void TestRouterEndToEnd::stopEndsCleanly()
{
    // Ends by itself with exit code 0 after the stop sequence.
    QVERIFY2(m_runner->stop(15000), m_runner->output().constData());
    const QByteArray &output = m_runner->output();
    const QByteArrayList states = m_runner->states();
    QVERIFY2(states.mid(states.size() - 3) == (QByteArrayList{"Started", "Stopping", "Stopped"}),
             output.constData());
    QVERIFY2(output.endsWith("state Stopped\n"), output.constData());
    // The clients keep their addresses, but the gateway address is gone from the hotspot.
    const Lab::Result r = m_lab->run(m_phone, {"ping", "-n", "-c", "1", "-W", "1", kGateway});
    QVERIFY(r.exitCode != 0);
}

QTEST_GUILESS_MAIN(TestRouterEndToEnd)
#include "tst_routere2e.moc"
