// SPDX-License-Identifier: GPL-3.0-or-later
// Host network configuration against real namespaces: interfaces, routes, addresses, ARP.
#include "tests/lab/lab.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

// The lab: a PC with an Ethernet side (lan0, to the upstream host "up", two default
// routes) and a side marked as the simulated radio (radio0, to a phone). The probe runs
// the code under test inside the PC's namespace, where sysfs and /etc are the PC's.
class TestHostNetLab : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Lab> m_lab;
    QString m_pc;
    QString m_up;
    QString m_phone;

    QJsonDocument probe(const QString &host, const QStringList &args)
    {
        const Lab::Result r = m_lab->run(host, QStringList{HOSTNET_PROBE} + args);
        if (r.exitCode != 0)
            qWarning() << "probe" << args << "failed:" << r.exitCode << r.err;
        return QJsonDocument::fromJson(r.out);
    }

    QJsonObject ipLink(const QString &host, const QString &ifname)
    {
        const Lab::Result r = m_lab->ip(host, {"-j", "link", "show", "dev", ifname});
        return QJsonDocument::fromJson(r.out).array().at(0).toObject();
    }

    // The IPv4 addresses of an interface as "address/prefix", from `ip -4 addr`.
    QStringList ipAddresses(const QString &host, const QString &ifname)
    {
        const Lab::Result r = m_lab->ip(host, {"-4", "-j", "addr", "show", "dev", ifname});
        QStringList out;
        const QJsonArray info = QJsonDocument::fromJson(r.out).array().at(0).toObject()["addr_info"].toArray();
        for (const QJsonValue &a : info)
            out << a["local"].toString() + '/' + QString::number(a["prefixlen"].toInt());
        return out;
    }

    static QJsonObject byName(const QJsonArray &list, const QString &name)
    {
        for (const QJsonValue &v : list)
            if (v["name"].toString() == name)
                return v.toObject();
        return QJsonObject();
    }

private slots:
    void initTestCase()
    {
        LAB_SKIP_UNLESS_AVAILABLE();
        m_lab = std::make_unique<Lab>();
        Lab::PcHosts hosts;
        QVERIFY(m_lab->addPcHosts(hosts, "radio0"));
        m_pc = hosts.pc;
        m_up = hosts.up;
        m_phone = hosts.phone;
        QCOMPARE(m_lab->ip(m_pc, {"link", "set", "radio0", "alias", "tarnwick-radio0"}).exitCode, 0);
        // A TAP named like the packet driver's own is none of the host's adapters.
        QCOMPARE(m_lab->ip(m_pc, {"tuntap", "add", "dev", "twkw99", "mode", "tap"}).exitCode, 0);
        m_lab->addAddress(m_up, "u0", "198.51.100.3/24");
        // The kernel lists the lower metric first; the table order puts .2 first.
        m_lab->addRoute(m_pc, {"default", "via", "198.51.100.3", "metric", "50"});
        m_lab->addRoute(m_pc, {"default", "via", "198.51.100.2", "metric", "100"});
        m_lab->writeEtcFile(m_pc, "resolv.conf", "# lab\nnameserver 203.0.113.53\nnameserver 198.51.100.53\n");
        m_lab->writeEtcFile(m_phone, "resolv.conf", "nameserver 127.0.0.1\nnameserver 203.0.113.7\n");
    }

    void cleanupTestCase()
    {
        m_lab.reset();
    }

    void listsAdaptersWithIndexNameMacAndType()
    {
        const QJsonArray list = probe(m_pc, {"interfaces", "255"}).array();
        QCOMPARE(list.size(), 2); // loopback is neither Ethernet nor 802.11
        QVERIFY(!ipLink(m_pc, "twkw99").isEmpty());
        QVERIFY(byName(list, "twkw99").isEmpty());
        for (const QString &name : {QStringLiteral("lan0"), QStringLiteral("radio0")}) {
            const QJsonObject i = byName(list, name);
            const QJsonObject link = ipLink(m_pc, name);
            QVERIFY2(!i.isEmpty(), qPrintable(name));
            QVERIFY(i["valid"].toBool());
            QCOMPARE(i["index"].toInt(), link["ifindex"].toInt());
            QCOMPARE(i["mac"].toString().toLower(), link["address"].toString());
            QVERIFY(i["running"].toBool());
            QCOMPARE(i["dns"].toArray(), (QJsonArray{"203.0.113.53", "198.51.100.53"}));
        }
        QCOMPARE(byName(list, "lan0")["type"].toInt(), 1);
        QCOMPARE(byName(list, "lan0")["description"].toString(), QStringLiteral("veth"));
        QCOMPARE(byName(list, "lan0")["ipv4"].toArray(), QJsonArray{"198.51.100.1/24"});
        QCOMPARE(byName(list, "radio0")["type"].toInt(), 2);
        QCOMPARE(byName(list, "radio0")["description"].toString(), QStringLiteral("tarnwick-radio0"));
        // The host's adapter order is the order of the indexes.
        QVERIFY(list.at(0)["index"].toInt() < list.at(1)["index"].toInt());
    }

    void filter258TypesEveryAdapterAsWireless()
    {
        const QJsonArray list = probe(m_pc, {"interfaces", "258"}).array();
        QCOMPARE(list.size(), 3);
        QVERIFY(!byName(list, "lo").isEmpty());
        for (const QJsonValue &v : list)
            QCOMPARE(v["type"].toInt(), 2);
        const QJsonArray ethernet = probe(m_pc, {"interfaces", "1"}).array();
        QCOMPARE(ethernet.size(), 1);
        QCOMPARE(ethernet.at(0)["name"].toString(), QStringLiteral("lan0"));
    }

    void dnsServersComeFromTheHostsResolver()
    {
        // A loopback resolver is useless to clients: its upstream list (none here) or the
        // other servers remain.
        const QJsonArray list = probe(m_phone, {"interfaces", "255"}).array();
        QCOMPARE(byName(list, "p0")["dns"].toArray(), QJsonArray{"203.0.113.7"});
    }

    void routesInTableOrderAndTheGateway()
    {
        const QJsonArray rows = probe(m_pc, {"routes"}).array();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(0)["destination"].toString(), QStringLiteral("0.0.0.0"));
        QCOMPARE(rows.at(0)["nextHop"].toString(), QStringLiteral("198.51.100.2"));
        QCOMPARE(rows.at(0)["metric"].toInt(), 100);
        QCOMPARE(rows.at(0)["interface"].toString(), QStringLiteral("lan0"));
        QCOMPARE(rows.at(1)["nextHop"].toString(), QStringLiteral("198.51.100.3"));
        QCOMPARE(rows.at(1)["metric"].toInt(), 50);
        QCOMPARE(rows.at(2)["destination"].toString(), QStringLiteral("198.51.100.0"));
        QCOMPARE(rows.at(2)["mask"].toString(), QStringLiteral("255.255.255.0"));
        QCOMPARE(rows.at(2)["nextHop"].toString(), QStringLiteral("0.0.0.0"));

        const QJsonObject lan = probe(m_pc, {"gateway", "LAN0"}).object();
        QCOMPARE(lan["gateway"].toString(), QStringLiteral("198.51.100.2"));
        QCOMPARE(lan["rows"].toInt(), 3);
        const QJsonObject radio = probe(m_pc, {"gateway", "radio0"}).object();
        QCOMPARE(radio["gateway"].toString(), QString());
        QCOMPARE(radio["rows"].toInt(), 0);
        // An unknown name is an empty value: no rows, no gateway.
        QCOMPARE(probe(m_pc, {"gateway", "nothing"}).object()["rows"].toInt(), 0);
    }

    void addsAndRemovesAnAddress()
    {
        QJsonObject added = probe(m_pc, {"add", "radio0", "192.168.51.1", "255.255.255.0"}).object();
        QVERIFY(added["added"].toBool());
        QCOMPARE(added["stored"].toInt(), 1);
        QCOMPARE(ipAddresses(m_pc, "radio0"), QStringList{"192.168.51.1/24"});
        // Beside the others, never twice.
        QVERIFY(!probe(m_pc, {"add", "radio0", "192.168.51.1", "255.255.255.0"}).object()["added"].toBool());
        QVERIFY(probe(m_pc, {"add", "radio0", "192.168.51.2", "255.255.255.128"}).object()["added"].toBool());
        QCOMPARE(ipAddresses(m_pc, "radio0"), (QStringList{"192.168.51.1/24", "192.168.51.2/25"}));
        // A mask with a hole is refused and adds nothing.
        const QJsonObject holey = probe(m_pc, {"add", "radio0", "192.168.51.3", "255.0.255.0"}).object();
        QVERIFY(!holey["added"].toBool());
        QCOMPARE(holey["stored"].toInt(), 0);

        // A fresh value knows no context: the host's own list is used.
        QVERIFY(probe(m_pc, {"remove", "radio0", "192.168.51.1"}).object()["removed"].toBool());
        QVERIFY(probe(m_pc, {"remove", "RADIO0", "192.168.51.2"}).object()["removed"].toBool());
        QVERIFY(ipAddresses(m_pc, "radio0").isEmpty());
        QVERIFY(!probe(m_pc, {"remove", "radio0", "192.168.51.1"}).object()["removed"].toBool());
        // Only on its own interface.
        QVERIFY(!probe(m_pc, {"remove", "radio0", "198.51.100.1"}).object()["removed"].toBool());
        QCOMPARE(ipAddresses(m_pc, "lan0"), QStringList{"198.51.100.1/24"});
    }

    void aVanishedValueStillRemovesItsAddress()
    {
        const QJsonObject r = probe(m_pc, {"addvanish", "radio0", "192.168.51.1", "255.255.255.0"}).object();
        QVERIFY(r["added"].toBool());
        const QJsonObject after = r["after"].toObject();
        QVERIFY(!after["valid"].toBool());
        QCOMPARE(after["index"].toInt(), r["indexBefore"].toInt());
        QVERIFY(after["index"].toInt() > 0);
        QCOMPARE(after["added"].toInt(), 1);
        QVERIFY(r["removed"].toBool());
        QVERIFY(!r["removedAgain"].toBool());
        QVERIFY(ipAddresses(m_pc, "radio0").isEmpty());
    }

    void resolvesHardwareAddresses_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("macOfHost"); // empty: no answer expected
        QTest::addColumn<QString>("macOfLink");
        QTest::newRow("gateway on lan0") << QStringList{"arp", "lan0", "198.51.100.2"} << "up" << "u0";
        QTest::newRow("second address of the gateway") << QStringList{"arp", "lan0", "198.51.100.3"} << "up" << "u0";
        QTest::newRow("by route") << QStringList{"arproute", "198.51.100.2"} << "up" << "u0";
        QTest::newRow("from an interface without address") << QStringList{"arp", "radio0", "192.168.51.20"}
                                                           << "phone" << "p0";
        QTest::newRow("nobody there") << QStringList{"arp", "lan0", "198.51.100.99"} << "" << "";
        QTest::newRow("wrong side") << QStringList{"arp", "radio0", "198.51.100.2"} << "" << "";
    }

    void resolvesHardwareAddresses()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, macOfHost);
        QFETCH(QString, macOfLink);
        const QJsonObject r = probe(m_pc, args).object();
        QVERIFY(r.contains("mac"));
        const int ms = r["ms"].toInt();
        if (macOfHost.isEmpty()) {
            QCOMPARE(r["mac"].toString(), QString());
            QVERIFY2(ms >= 900 && ms <= 1500, qPrintable(QString::number(ms)));
            return;
        }
        const QString host = macOfHost == "up" ? m_up : m_phone;
        QCOMPARE(r["mac"].toString(), ipLink(host, macOfLink)["address"].toString());
        QVERIFY2(ms < 900, qPrintable(QString::number(ms)));
    }
};

QTEST_GUILESS_MAIN(TestHostNetLab)
#include "tst_hostnetlab.moc"
