// SPDX-License-Identifier: GPL-3.0-or-later
// The bridge-mode proxy table: insert, replace, snapshots, and use from several threads.
#include "engine/arpproxy.h"

#include <QtEndian>
#include <QtTest>
#include <atomic>
#include <thread>

namespace {

quint32 ipv4(quint8 a, quint8 b, quint8 c, quint8 d)
{
    return qToBigEndian(quint32(a) << 24 | quint32(b) << 16 | quint32(c) << 8 | d);
}

QByteArray mac(quint8 last)
{
    return QByteArray::fromHex("02005e1000") + QByteArray(1, char(last));
}

} // namespace

class TestARPProxy : public QObject
{
    Q_OBJECT
private slots:
    void insertReplaceAndSnapshot();
    void refusesMalformedMac_data();
    void refusesMalformedMac();
    void concurrentInsertAndRead();
};

void TestARPProxy::insertReplaceAndSnapshot()
{
    ARPProxy proxy;
    QVERIFY(proxy.table().isEmpty());
    QVERIFY(proxy.insert(ipv4(192, 168, 51, 10), mac(1)));
    QVERIFY(proxy.insert(ipv4(192, 168, 51, 11), mac(2)));
    const QHash<quint32, QByteArray> before = proxy.table();

    QVERIFY(proxy.insert(ipv4(192, 168, 51, 10), mac(3)));
    QVERIFY(proxy.insert(ipv4(192, 168, 51, 12), mac(4)));

    // The earlier copy is a snapshot: later changes do not reach it.
    QCOMPARE(before.size(), 2);
    QCOMPARE(before.value(ipv4(192, 168, 51, 10)), mac(1));
    const QHash<quint32, QByteArray> after = proxy.table();
    QCOMPARE(after.size(), 3);
    QCOMPARE(after.value(ipv4(192, 168, 51, 10)), mac(3));
    QCOMPARE(after.value(ipv4(192, 168, 51, 11)), mac(2));
    QCOMPARE(after.value(ipv4(192, 168, 51, 12)), mac(4));
    // Keys are in network order: the first byte in memory is the first octet.
    const quint32 key = ipv4(192, 168, 51, 12);
    QCOMPARE(reinterpret_cast<const quint8 *>(&key)[0], quint8(192));
}

void TestARPProxy::refusesMalformedMac_data()
{
    QTest::addColumn<QByteArray>("bad");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("five bytes") << QByteArray::fromHex("0200000000");
    QTest::newRow("seven bytes") << QByteArray::fromHex("02000000000001");
}

void TestARPProxy::refusesMalformedMac()
{
    QFETCH(QByteArray, bad);
    ARPProxy proxy;
    QVERIFY(proxy.insert(ipv4(192, 168, 51, 10), mac(1)));
    QVERIFY(!proxy.insert(ipv4(192, 168, 51, 10), bad));
    QVERIFY(!proxy.insert(ipv4(192, 168, 51, 20), bad));
    QCOMPARE(proxy.table().size(), 1);
    QCOMPARE(proxy.table().value(ipv4(192, 168, 51, 10)), mac(1));
}

// Two writers each own half of 256 addresses and rewrite them many times while a reader
// takes snapshots; every snapshot must hold only well-formed entries.
void TestARPProxy::concurrentInsertAndRead()
{
    ARPProxy proxy;
    constexpr int kRounds = 400;
    std::atomic<int> running{2};
    auto writer = [&proxy, &running](quint8 base) {
        for (int round = 0; round < kRounds; ++round)
            for (int host = 0; host < 128; ++host)
                proxy.insert(ipv4(192, 168, 51, quint8(base + host)), mac(quint8(round)));
        --running;
    };
    std::thread a(writer, quint8(0));
    std::thread b(writer, quint8(128));
    int snapshots = 0;
    bool wellFormed = true;
    while (running > 0 || snapshots == 0) {
        const QHash<quint32, QByteArray> table = proxy.table();
        for (const QByteArray &value : table)
            wellFormed = wellFormed && value.size() == 6;
        ++snapshots;
    }
    a.join();
    b.join();
    QVERIFY(wellFormed);
    const QHash<quint32, QByteArray> table = proxy.table();
    QCOMPARE(table.size(), 256);
    for (const QByteArray &value : table)
        QCOMPARE(value, mac(quint8(kRounds - 1)));
}

QTEST_GUILESS_MAIN(TestARPProxy)
#include "tst_arpproxy.moc"
