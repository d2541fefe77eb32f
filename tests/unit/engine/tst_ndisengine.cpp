// SPDX-License-Identifier: GPL-3.0-or-later
// Engine pair and engine thread: adapter modes per side, and stopping threads that ended early.
#include "app/uptime.h"
#include "engine/arptable.h"
#include "engine/enginepair.h"
#include "engine/ndisengine.h"
#include "engine/passforwarder.h"
#include "platform/packetdriverprotocol.h"

#include <QElapsedTimer>
#include <QtTest>

class TestNDISEngine : public QObject
{
    Q_OBJECT

private slots:
    void modeAndFilter_data();
    void modeAndFilter();
    void pairWithUnboundInterfacesStopsAtOnce();
};

void TestNDISEngine::modeAndFilter_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("kind");
    QTest::addColumn<quint32>("adapterMode");
    QTest::addColumn<quint32>("filter");
    QTest::newRow("router, public engine") << 0 << 0 << 1 << 0x02u << 0x0Bu;
    QTest::newRow("router, private engine") << 0 << 1 << 1 << 0x03u << 0x0Bu;
    QTest::newRow("router, private wireless") << 0 << 1 << 2 << 0x03u << 0x0Bu;
    QTest::newRow("bridge, wired public") << 1 << 0 << 1 << 0x53u << 0x20u;
    QTest::newRow("bridge, wired private") << 1 << 1 << 1 << 0x53u << 0x20u;
    QTest::newRow("bridge, wireless private") << 1 << 1 << 2 << 0x03u << 0x0Bu;
    QTest::newRow("bridge, wireless public") << 1 << 0 << 2 << 0x03u << 0x0Bu;
}

void TestNDISEngine::modeAndFilter()
{
    QFETCH(int, mode);
    QFETCH(int, direction);
    QFETCH(int, kind);
    QFETCH(quint32, adapterMode);
    QFETCH(quint32, filter);
    QCOMPARE(NDISEngine::adapterMode(mode, direction, kind), adapterMode);
    QCOMPARE(NDISEngine::receiveFilter(mode, kind), filter);
}

// Interfaces that are not among the driver's adapters end both threads at start-up without
// touching any adapter; stop() (and a second start()) must still join them without hanging.
void TestNDISEngine::pairWithUnboundInterfacesStopsAtOnce()
{
    UpTime clock;
    ARPTable users(&clock);
    EnginePair pair(&users, nullptr, &clock, &PassForwarder::create);
    pair.setPublicInterface(NetworkInterface());
    pair.setPrivateInterface(NetworkInterface());
    QElapsedTimer t;
    t.start();
    pair.start();
    QVERIFY(pair.isRunning());
    pair.start();
    pair.stop();
    QVERIFY(!pair.isRunning());
    pair.stop();
    QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
}

QTEST_GUILESS_MAIN(TestNDISEngine)
#include "tst_ndisengine.moc"
