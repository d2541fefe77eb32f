// SPDX-License-Identifier: GPL-3.0-or-later
// The DHCP server against real clients: busybox udhcpc and ISC dhclient in lab namespaces.
#include "tests/lab/lab.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTemporaryDir>
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

const char *kUdhcpcScript = R"(#!/bin/sh
echo "event=$1 ip=$ip subnet=$subnet router=$router dns=$dns lease=$lease serverid=$serverid"
case "$1" in bound|renew) ip addr replace "$ip/$mask" dev "$interface" ;; esac
exit 0
)";

const char *kDhclientScript = R"(#!/bin/sh
echo "reason=$reason ip=$new_ip_address subnet=$new_subnet_mask router=$new_routers dns=$new_domain_name_servers lease=$new_dhcp_lease_time serverid=$new_dhcp_server_identifier"
case "$reason" in
BOUND|RENEW|REBIND|REBOOT) ip addr replace "$new_ip_address/$new_subnet_mask" dev "$interface" ;;
RELEASE|EXPIRE|STOP) ip addr flush dev "$interface" ;;
esac
exit 0
)";

const char *kDhclientConf = R"(send host-name "laptop1";
request subnet-mask, routers, domain-name-servers, domain-name;
timeout 20;
)";

// "key=value key=value" into a map.
QMap<QByteArray, QByteArray> fields(const QByteArray &line)
{
    QMap<QByteArray, QByteArray> map;
    for (const QByteArray &part : line.split(' ')) {
        const int eq = part.indexOf('=');
        if (eq > 0)
            map.insert(part.left(eq), part.mid(eq + 1));
    }
    return map;
}

bool inPool(const QByteArray &address)
{
    const quint32 a = QHostAddress(QString::fromLatin1(address)).toIPv4Address();
    return a >= QHostAddress("192.168.51.10").toIPv4Address()
        && a <= QHostAddress("192.168.51.50").toIPv4Address();
}

} // namespace

// Lab: the server host has a bridge br0 (192.168.51.254/24 first, so that it is the
// interface's primary address, then the gateway 192.168.51.1/24) with a veth port to each
// client host. The probe runs a DHCPServer there as the spot worker configures it.
class TestDhcpLab : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Lab> m_lab;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_server, m_phone, m_laptop;
    QProcess *m_probe = nullptr;
    QProcess *m_udhcpc = nullptr;
    QHash<QProcess *, QByteArray> m_pending; // output read but not yet matched, per process

    // Waits for the next output line of `process` that contains `needle` and not `unwanted`.
    QByteArray waitForLine(QProcess *process, const QByteArray &needle, int timeoutMs = 20000,
                           const QByteArray &unwanted = QByteArray())
    {
        QElapsedTimer timer;
        timer.start();
        QByteArray &buffer = m_pending[process];
        for (;;) {
            int newline;
            while ((newline = buffer.indexOf('\n')) >= 0) {
                const QByteArray line = buffer.left(newline);
                buffer.remove(0, newline + 1);
                if (line.contains(needle) && (unwanted.isEmpty() || !line.contains(unwanted)))
                    return line;
            }
            if (timer.elapsed() > timeoutMs)
                return {};
            process->waitForReadyRead(200);
            buffer += process->readAllStandardOutput();
            buffer += process->readAllStandardError();
        }
    }

    QString path(const char *name) const { return m_dir->filePath(QString::fromLatin1(name)); }

    void writeFile(const char *name, const char *text, bool executable)
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        if (executable)
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    QStringList dhclient(const QStringList &extra) const
    {
        return QStringList{"dhclient"} + extra
            + QStringList{"-v", "-cf", path("dhclient.conf"), "-sf", path("dhclient.sh"),
                          "-lf", path("dhclient.leases"), "-pf", path("dhclient.pid"), "eth0"};
    }

    void checkConfiguration(const QMap<QByteArray, QByteArray> &got, const char *ipKey)
    {
        QVERIFY2(inPool(got.value(ipKey)), got.value(ipKey).constData());
        QCOMPARE(got.value("subnet"), QByteArray("255.255.255.0"));
        QCOMPARE(got.value("router"), QByteArray("192.168.51.1"));
        QCOMPARE(got.value("dns"), QByteArray("192.168.51.1"));
        QCOMPARE(got.value("lease"), QByteArray("3600"));
        QCOMPARE(got.value("serverid"), QByteArray("192.168.51.1"));
    }

private slots:
    void initTestCase()
    {
        QString why;
        if (!Lab::available(&why))
            QSKIP(qPrintable(why));
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        writeFile("udhcpc.sh", kUdhcpcScript, true);
        writeFile("dhclient.sh", kDhclientScript, true);
        writeFile("dhclient.conf", kDhclientConf, false);

        m_lab = std::make_unique<Lab>();
        m_server = m_lab->addHost("dhcpsrv");
        m_phone = m_lab->addHost("phone");
        m_laptop = m_lab->addHost("laptop");
        QVERIFY(!m_server.isEmpty() && !m_phone.isEmpty() && !m_laptop.isEmpty());
        QCOMPARE(m_lab->ip(m_server, {"link", "add", "br0", "type", "bridge"}).exitCode, 0);
        m_lab->addLink(m_server, "p1", m_phone, "eth0");
        m_lab->addLink(m_server, "p2", m_laptop, "eth0");
        QCOMPARE(m_lab->ip(m_phone, {"link", "set", "eth0", "address", kPhoneMac}).exitCode, 0);
        QCOMPARE(m_lab->ip(m_laptop, {"link", "set", "eth0", "address", kLaptopMac}).exitCode, 0);
        for (const char *port : {"p1", "p2"})
            QCOMPARE(m_lab->ip(m_server, {"link", "set", port, "master", "br0"}).exitCode, 0);
        QCOMPARE(m_lab->ip(m_server, {"link", "set", "br0", "up"}).exitCode, 0);
        m_lab->addAddress(m_server, "br0", "192.168.51.254/24");
        m_lab->addAddress(m_server, "br0", "192.168.51.1/24");

        m_probe = m_lab->start(m_server, {DHCP_PROBE, "02ffffffffff"});
        QVERIFY(!waitForLine(m_probe, "bound", 10000).isEmpty());
    }

    void cleanupTestCase() { m_lab.reset(); }

    void udhcpcGetsLease()
    {
        m_udhcpc = m_lab->start(m_phone, {"busybox", "udhcpc", "-i", "eth0", "-f", "-x",
                                          "hostname:phone1", "-s", path("udhcpc.sh")});
        const QByteArray bound = waitForLine(m_udhcpc, "event=bound");
        QVERIFY2(!bound.isEmpty(), m_pending.value(m_udhcpc).constData());
        const auto got = fields(bound);
        checkConfiguration(got, "ip");
        const QByteArray user = got.value("ip") + ",020000510001,phone1";
        QVERIFY(!waitForLine(m_probe, user).isEmpty());
    }

    // dhclient takes the answers from a packet socket, so what it reports is what was on
    // the wire; a packet socket of our own in its host checks the answers' source.
    void dhclientGetsLease()
    {
        QVERIFY(m_lab->enter(m_laptop));
        const int sniffer = socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_IP));
        m_lab->leave();
        QVERIFY(sniffer >= 0);

        QProcess *client = m_lab->start(m_laptop, dhclient({"-1", "-d"}));
        const QByteArray bound = waitForLine(client, "reason=BOUND");
        QVERIFY2(!bound.isEmpty(), m_pending.value(client).constData());
        const auto got = fields(bound);
        checkConfiguration(got, "ip");
        const QByteArray user = got.value("ip") + ",020000510002,laptop1";
        // Both clients are users now, each with the host name it sent.
        const QByteArray users = waitForLine(m_probe, user);
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
        QCOMPARE(::kill(pid_t(m_udhcpc->processId()), SIGUSR1), 0);
        const QByteArray renewed = waitForLine(m_udhcpc, "event=renew");
        QVERIFY2(!renewed.isEmpty(), m_pending.value(m_udhcpc).constData());
        checkConfiguration(fields(renewed), "ip");
    }

    void releasesRemoveUsers()
    {
        QVERIFY(m_udhcpc);
        QCOMPARE(::kill(pid_t(m_udhcpc->processId()), SIGUSR2), 0);
        // The laptop stays a user while the phone goes.
        QVERIFY(!waitForLine(m_probe, "laptop1", 10000, "phone1").isEmpty());

        const Lab::Result release = m_lab->run(m_laptop, dhclient({"-r"}));
        QCOMPARE(release.exitCode, 0);
        QCOMPARE(waitForLine(m_probe, "users", 10000, "192.168.51."), QByteArray("users"));
        Lab::stop(m_udhcpc);
    }
};

QTEST_GUILESS_MAIN(TestDhcpLab)
#include "tst_dhcplab.moc"
