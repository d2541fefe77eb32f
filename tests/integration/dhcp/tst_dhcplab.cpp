// SPDX-License-Identifier: GPL-3.0-or-later
// The DHCP server against real clients: busybox udhcpc and ISC dhclient in lab namespaces.
#include "tests/lab/dhcpclients.h"
#include "tests/lab/lab.h"
#include "tests/lab/processlines.h"
#include "tests/lab/scratchdir.h"

#include <QHostAddress>
#include <QtTest>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <memory>
#include <net/if.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray kPhoneMac = "02:00:00:51:00:01";
const QByteArray kLaptopMac = "02:00:00:51:00:02";

} // namespace

// Lab: the server host has a bridge br0 (192.168.51.254/24 first, so that it is the
// interface's primary address, then the gateway 192.168.51.1/24) with a veth port to each
// client host. The probe runs a DHCPServer there as the spot worker configures it.
class TestDhcpLab : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Lab> m_lab;
    std::unique_ptr<ScratchDir> m_dir;
    QString m_server, m_phone, m_laptop;
    std::unique_ptr<ProcessLines> m_probe;
    std::unique_ptr<ProcessLines> m_udhcpc;

    QStringList dhclient(const QStringList &extra) const { return DhcpClients::dhclientCommand(*m_dir, extra); }

    void checkConfiguration(const QMap<QByteArray, QByteArray> &got, const char *ipKey)
    {
        QVERIFY2(DhcpClients::inRange(got.value(ipKey), "192.168.51.10", "192.168.51.50"),
                 got.value(ipKey).constData());
        QCOMPARE(got.value("subnet"), QByteArray("255.255.255.0"));
        QCOMPARE(got.value("router"), QByteArray("192.168.51.1"));
        QCOMPARE(got.value("dns"), QByteArray("192.168.51.1"));
        QCOMPARE(got.value("lease"), QByteArray("3600"));
        QCOMPARE(got.value("serverid"), QByteArray("192.168.51.1"));
    }

private slots:
    void initTestCase()
    {
        LAB_SKIP_UNLESS_AVAILABLE();
        m_dir = std::make_unique<ScratchDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(m_dir->write("udhcpc.sh", DhcpClients::udhcpcScript(DhcpClients::Setup::Address), true));
        QVERIFY(DhcpClients::writeDhclientFiles(*m_dir, DhcpClients::Setup::Address, "laptop1"));

        m_lab = std::make_unique<Lab>();
        m_server = m_lab->addHost("dhcpsrv");
        m_phone = m_lab->addHost("phone");
        m_laptop = m_lab->addHost("laptop");
        QVERIFY(!m_server.isEmpty() && !m_phone.isEmpty() && !m_laptop.isEmpty());
        m_lab->addLink(m_server, "p1", m_phone, "eth0");
        m_lab->addLink(m_server, "p2", m_laptop, "eth0");
        QCOMPARE(m_lab->ip(m_phone, {"link", "set", "eth0", "address", kPhoneMac}).exitCode, 0);
        QCOMPARE(m_lab->ip(m_laptop, {"link", "set", "eth0", "address", kLaptopMac}).exitCode, 0);
        QVERIFY(m_lab->addBridge(m_server, "br0", {"p1", "p2"}));
        m_lab->addAddress(m_server, "br0", "192.168.51.254/24");
        m_lab->addAddress(m_server, "br0", "192.168.51.1/24");

        m_probe = std::make_unique<ProcessLines>(m_lab->start(m_server, {DHCP_PROBE, "02ffffffffff"}));
        QVERIFY(!m_probe->next("bound", 10000).isEmpty());
    }

    void cleanupTestCase() { m_lab.reset(); }

    void udhcpcGetsLease()
    {
        m_udhcpc = std::make_unique<ProcessLines>(m_lab->start(m_phone, {"busybox", "udhcpc", "-i", "eth0", "-f", "-x",
                                                                         "hostname:phone1", "-s",
                                                                         m_dir->path("udhcpc.sh")}));
        const QByteArray bound = m_udhcpc->next("event=bound");
        QVERIFY2(!bound.isEmpty(), m_udhcpc->seen().constData());
        const auto got = DhcpClients::fields(bound);
        checkConfiguration(got, "ip");
        const QByteArray user = got.value("ip") + ",020000510001,phone1";
        QVERIFY(!m_probe->next(user).isEmpty());
    }

    // dhclient takes the answers from a packet socket, so what it reports is what was on
    // the wire; a packet socket of our own in its host checks the answers' source.
    void dhclientGetsLease()
    {
        QVERIFY(m_lab->enter(m_laptop));
        const int sniffer = socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_IP));
        m_lab->leave();
        QVERIFY(sniffer >= 0);

        ProcessLines client(m_lab->start(m_laptop, dhclient({"-1", "-d"})));
        const QByteArray bound = client.next("reason=BOUND");
        QVERIFY2(!bound.isEmpty(), client.seen().constData());
        const auto got = DhcpClients::fields(bound);
        checkConfiguration(got, "ip");
        const QByteArray user = got.value("ip") + ",020000510002,laptop1";
        // Both clients are users now, each with the host name it sent.
        const QByteArray users = m_probe->next(user);
        QVERIFY(!users.isEmpty());
        QVERIFY2(users.contains(",020000510001,phone1"), users.constData());

        int replies = 0;
        QByteArray frame(2048, '\0');
        ssize_t size;
        while ((size = recv(sniffer, frame.data(), size_t(frame.size()), 0)) > 0) {
            const auto *ipHeader = reinterpret_cast<const uchar *>(frame.constData());
            const int headerLength = (ipHeader[0] & 0x0F) * 4;
            if (size < headerLength + 8 || ipHeader[9] != IPPROTO_UDP)
                continue;
            const uchar *udp = ipHeader + headerLength;
            if (((udp[2] << 8) | udp[3]) != 68)
                continue;
            ++replies;
            QCOMPARE(QHostAddress(qFromBigEndian<quint32>(ipHeader + 12)).toString(), QString("192.168.51.1"));
            QCOMPARE((udp[0] << 8) | udp[1], 67);
        }
        ::close(sniffer);
        QVERIFY(replies >= 2); // the offer and the acknowledgement
    }

    // A renewal is unicast to the client's address; udhcpc then listens on an ordinary
    // socket of that address, so the ACK must come by unicast to it.
    void udhcpcRenews()
    {
        QVERIFY(m_udhcpc);
        QCOMPARE(::kill(pid_t(m_udhcpc->process()->processId()), SIGUSR1), 0);
        const QByteArray renewed = m_udhcpc->next("event=renew");
        QVERIFY2(!renewed.isEmpty(), m_udhcpc->seen().constData());
        checkConfiguration(DhcpClients::fields(renewed), "ip");
    }

    void releasesRemoveUsers()
    {
        QVERIFY(m_udhcpc);
        QCOMPARE(::kill(pid_t(m_udhcpc->process()->processId()), SIGUSR2), 0);
        // The laptop stays a user while the phone goes.
        QVERIFY(!m_probe->next("laptop1", 10000, "phone1").isEmpty());

        const Lab::Result release = m_lab->run(m_laptop, dhclient({"-r"}));
        QCOMPARE(release.exitCode, 0);
        QCOMPARE(m_probe->next("users", 10000, "192.168.51."), QByteArray("users"));
        Lab::stop(m_udhcpc->process());
    }
};

QTEST_GUILESS_MAIN(TestDhcpLab)
#include "tst_dhcplab.moc"
