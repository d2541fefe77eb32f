// SPDX-License-Identifier: GPL-3.0-or-later
// The run clock's ticks, its traffic totals, their wrap-around, reset and use across threads.
#include "app/uptime.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

class TestUpTime : public QObject
{
    Q_OBJECT

private slots:
    void startsStoppedAtZero();
    void ticksOncePerSecond();
    void directionOneIsSentEverythingElseReceived_data();
    void directionOneIsSentEverythingElseReceived();
    void bytesWrapAtTwoToThe32();
    void stopResetsAndRestartCountsFromOne();
    void concurrentUpdatesAreNeverLost();
};

namespace {

void compareTotals(const UpTime::Totals &t, quint32 sentBytes, quint32 receivedBytes, quint32 sentPackets,
                   quint32 receivedPackets)
{
    QCOMPARE(t.sentBytes, sentBytes);
    QCOMPARE(t.receivedBytes, receivedBytes);
    QCOMPARE(t.sentPackets, sentPackets);
    QCOMPARE(t.receivedPackets, receivedPackets);
}

} // namespace

void TestUpTime::startsStoppedAtZero()
{
    UpTime upTime;
    QSignalSpy spy(&upTime, &UpTime::changed);
    QCOMPARE(upTime.seconds(), 0u);
    compareTotals(upTime.snapshot(), 0, 0, 0, 0);
    QVERIFY(!spy.wait(1500));
}

void TestUpTime::ticksOncePerSecond()
{
    UpTime upTime;
    QSignalSpy spy(&upTime, &UpTime::changed);
    QElapsedTimer clock;
    clock.start();
    upTime.start();

    QVERIFY(spy.wait(5000));
    const qint64 first = clock.elapsed();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toUInt(), 1u);
    QVERIFY2(first >= 900, qPrintable(QStringLiteral("first tick after %1 ms").arg(first)));
    QCOMPARE(upTime.seconds(), 1u);

    QVERIFY(spy.wait(5000));
    const qint64 second = clock.elapsed();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toUInt(), 2u);
    QVERIFY2(second - first >= 900, qPrintable(QStringLiteral("second tick %1 ms later").arg(second - first)));
    QCOMPARE(upTime.seconds(), 2u);
}

void TestUpTime::directionOneIsSentEverythingElseReceived_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<bool>("sent");
    QTest::newRow("1 sent") << 1 << true;
    QTest::newRow("2 received") << 2 << false;
    QTest::newRow("7 received") << 7 << false;
    QTest::newRow("0 received") << 0 << false;
    QTest::newRow("-1 received") << -1 << false;
}

void TestUpTime::directionOneIsSentEverythingElseReceived()
{
    QFETCH(int, direction);
    QFETCH(bool, sent);
    UpTime upTime;
    upTime.update(direction, 1500);
    upTime.update(direction, 1500);
    if (sent)
        compareTotals(upTime.snapshot(), 3000, 0, 2, 0);
    else
        compareTotals(upTime.snapshot(), 0, 3000, 0, 2);
}

void TestUpTime::bytesWrapAtTwoToThe32()
{
    UpTime upTime;
    upTime.update(1, 4294967000u);
    upTime.update(1, 1000);
    upTime.update(2, 4294967295u);
    upTime.update(7, 2);
    compareTotals(upTime.snapshot(), 704, 1, 2, 2);
}

void TestUpTime::stopResetsAndRestartCountsFromOne()
{
    UpTime upTime;
    QSignalSpy spy(&upTime, &UpTime::changed);
    upTime.start();
    QVERIFY(spy.wait(5000));
    QVERIFY(spy.wait(5000));
    QCOMPARE(upTime.seconds(), 2u);
    upTime.update(1, 100);
    upTime.update(2, 60);

    upTime.stop();
    QCOMPARE(upTime.seconds(), 0u);
    compareTotals(upTime.snapshot(), 0, 0, 0, 0);
    spy.clear();
    QVERIFY(!spy.wait(1500)); // stopped means stopped

    upTime.start();
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toUInt(), 1u);
    compareTotals(upTime.snapshot(), 0, 0, 0, 0);
}

// The two engine threads report frames while the interface thread takes snapshots.
void TestUpTime::concurrentUpdatesAreNeverLost()
{
    UpTime upTime;
    constexpr int kThreads = 4;
    constexpr quint32 kFrames = 50000;
    std::atomic<bool> done{false};
    bool shrank = false; // totals only grow within a run
    std::thread reader([&] {
        quint32 last = 0;
        while (!done.load()) {
            const quint32 now = upTime.snapshot().sentPackets;
            shrank = shrank || now < last;
            last = now;
        }
    });
    std::vector<std::thread> writers;
    for (int i = 0; i < kThreads; ++i) {
        writers.emplace_back([&upTime, i] {
            for (quint32 n = 0; n < kFrames; ++n)
                upTime.update(i % 2 == 0 ? 1 : 2, 3);
        });
    }
    for (auto &writer : writers)
        writer.join();
    done = true;
    reader.join();
    QVERIFY(!shrank);
    const quint32 perDirection = kFrames * kThreads / 2;
    compareTotals(upTime.snapshot(), perDirection * 3, perDirection * 3, perDirection, perDirection);
}

QTEST_GUILESS_MAIN(TestUpTime)
#include "tst_uptime.moc"
