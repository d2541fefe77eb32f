// SPDX-License-Identifier: GPL-3.0-or-later
// Resolving neighbours' MAC addresses against real namespaces.
#include "tests/lab/lab.h"

#include <QtTest>

#include <memory>

// The lab: a PC with two Ethernet sides, lan0 to "up" (198.51.100.0/24) and hot0 to "phone"
// (192.168.51.0/24), each peer with a MAC of its own choosing. The probe runs
// ARPTable::macForAddress inside the PC's namespace.
class TestARPTableLab : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Lab> m_lab;
    QString m_pc;

    struct Answer {
        QByteArray mac;
        qint64 ms = -1;
    };

    Answer probe(const QString &address)
    {
        const Lab::Result r = m_lab->run(m_pc, {ARPTABLE_PROBE, address});
        const QList<QByteArray> fields = r.out.trimmed().split(' ');
        if (r.exitCode != 0 || fields.size() != 3) {
            qWarning() << "probe" << address << "failed:" << r.exitCode << r.out << r.err;
            return Answer();
        }
        Answer answer;
        answer.mac = fields[1] == "-" ? QByteArray() : QByteArray::fromHex(fields[1]);
        answer.ms = fields[2].toLongLong();
        return answer;
    }

private slots:
    void initTestCase()
    {
        LAB_SKIP_UNLESS_AVAILABLE();
        m_lab = std::make_unique<Lab>();
        Lab::PcHosts hosts;
        QVERIFY(m_lab->addPcHosts(hosts, "hot0"));
        m_pc = hosts.pc;
        QCOMPARE(m_lab->ip(hosts.up, {"link", "set", "u0", "address", "02:00:5e:10:00:02"}).exitCode, 0);
        QCOMPARE(m_lab->ip(hosts.phone, {"link", "set", "p0", "address", "3c:5a:b4:00:0a:14"}).exitCode, 0);
        m_lab->addAddress(m_pc, "hot0", "192.168.51.1/24");
    }

    void cleanupTestCase() { m_lab.reset(); }

    void resolves_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("mac");
        QTest::addColumn<int>("maxMs");

        QTest::newRow("upstream gateway") << "198.51.100.2" << QByteArray::fromHex("02005e100002") << 1500;
        QTest::newRow("hotspot client") << "192.168.51.20" << QByteArray::fromHex("3c5ab4000a14") << 1500;
        QTest::newRow("silent address on a link") << "192.168.51.99" << QByteArray() << 1600;
        QTest::newRow("silent address on the other link") << "198.51.100.77" << QByteArray() << 1600;
        QTest::newRow("no interface on that network") << "203.0.113.9" << QByteArray() << 300;
        QTest::newRow("IPv6 address") << "2001:db8::1" << QByteArray() << 300;
        QTest::newRow("not an address") << "gateway" << QByteArray() << 300;
    }

    void resolves()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, mac);
        QFETCH(int, maxMs);
        const Answer answer = probe(address);
        QVERIFY(answer.ms >= 0);
        QCOMPARE(answer.mac.toHex(), mac.toHex());
        QVERIFY2(answer.ms <= maxMs, qPrintable(QStringLiteral("took %1 ms").arg(answer.ms)));
    }

    // Several look-ups in one process: a neighbour that answers is found again after
    // silent ones, on each interface.
    void mixedRun()
    {
        const Lab::Result r = m_lab->run(m_pc, {ARPTABLE_PROBE, "192.168.51.99", "198.51.100.2",
                                                "203.0.113.9", "192.168.51.20"});
        QCOMPARE(r.exitCode, 0);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0].split(' ').value(1), QByteArray("-"));
        QCOMPARE(lines[1].split(' ').value(1), QByteArray("02005e100002"));
        QCOMPARE(lines[2].split(' ').value(1), QByteArray("-"));
        QCOMPARE(lines[3].split(' ').value(1), QByteArray("3c5ab4000a14"));
    }
};

QTEST_GUILESS_MAIN(TestARPTableLab)
#include "tst_arptablelab.moc"
