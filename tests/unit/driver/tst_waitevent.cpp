// SPDX-License-Identifier: GPL-3.0-or-later
// WaitEvent: manual reset, waiting on two events, and sources tied to an event.
#include "platform/waitevent.h"

#include <QElapsedTimer>
#include <QtTest>

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

// A datagram socket pair standing in for a frame queue that the driver ties to an event.
class FrameQueue
{
public:
    FrameQueue() { socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, m_fds); }
    ~FrameQueue()
    {
        close(m_fds[0]);
        close(m_fds[1]);
    }
    bool tieTo(const WaitEvent &event)
    {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = m_fds[0];
        return epoll_ctl(event.nativeHandle(), EPOLL_CTL_ADD, m_fds[0], &ev) == 0;
    }
    void queueFrame() { QCOMPARE(write(m_fds[1], "frame", 5), ssize_t(5)); }
    int drain()
    {
        char buf[16];
        int n = 0;
        while (read(m_fds[0], buf, sizeof buf) > 0)
            ++n;
        return n;
    }

private:
    int m_fds[2] = {-1, -1};
};

// Spins briefly (both threads must run at the same time for their calls to race), then
// yields so that a loaded machine still makes progress.
void awaitValue(const std::atomic<int> &value, int wanted)
{
    for (int spins = 0; value.load() != wanted; ++spins) {
        if (spins > 2000)
            std::this_thread::yield();
    }
}

} // namespace

class TestWaitEvent : public QObject
{
    Q_OBJECT

private slots:
    void manualReset();
    void waitAnyPrefersTheFirst();
    void waitsWithoutTimeLimitUntilSetFromAnotherThread();
    void queuedFramesKeepTheEventSignalled();
    void frameQueuedBeforeResetIsNotLost();
    void setsRacingResetsLeaveAConsistentFlag();
};

void TestWaitEvent::manualReset()
{
    WaitEvent event, other;
    QVERIFY(event.isValid());
    QVERIFY(event.nativeHandle() != kNullEventHandle);
    QVERIFY(!event.isSignalled());
    event.set();
    event.set();
    event.set();
    // Stays signalled through any number of waits...
    for (int i = 0; i < 3; ++i)
        QCOMPARE(WaitEvent::waitAny(other, event, 0), WaitEvent::SecondSignalled);
    // ...and one reset clears it, however often it was set.
    event.reset();
    QVERIFY(!event.isSignalled());
    QElapsedTimer t;
    t.start();
    QCOMPARE(WaitEvent::waitAny(other, event, 50), WaitEvent::TimedOut);
    QVERIFY(t.elapsed() >= 40);
    event.reset(); // resetting a clear event is harmless
    QVERIFY(!event.isSignalled());
}

void TestWaitEvent::waitAnyPrefersTheFirst()
{
    WaitEvent stop, packet;
    packet.set();
    QCOMPARE(WaitEvent::waitAny(stop, packet), WaitEvent::SecondSignalled);
    stop.set();
    QCOMPARE(WaitEvent::waitAny(stop, packet), WaitEvent::FirstSignalled);
    packet.reset();
    QCOMPARE(WaitEvent::waitAny(stop, packet), WaitEvent::FirstSignalled);
}

void TestWaitEvent::waitsWithoutTimeLimitUntilSetFromAnotherThread()
{
    WaitEvent stop, packet;
    std::thread setter([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop.set();
    });
    QElapsedTimer t;
    t.start();
    const WaitEvent::WaitResult r = WaitEvent::waitAny(stop, packet);
    setter.join();
    QCOMPARE(r, WaitEvent::FirstSignalled);
    QVERIFY(t.elapsed() >= 40);
}

void TestWaitEvent::queuedFramesKeepTheEventSignalled()
{
    WaitEvent stop, packet;
    FrameQueue queue;
    QVERIFY(queue.tieTo(packet));
    QVERIFY(!packet.isSignalled());
    queue.queueFrame();
    queue.queueFrame();
    QCOMPARE(WaitEvent::waitAny(stop, packet, 1000), WaitEvent::SecondSignalled);
    packet.reset(); // a reset does not hide queued frames
    QVERIFY(packet.isSignalled());
    QCOMPARE(queue.drain(), 2);
    QVERIFY(!packet.isSignalled());
    packet.set(); // the event's own flag still works beside the queue
    QVERIFY(packet.isSignalled());
    packet.reset();
    QVERIFY(!packet.isSignalled());
}

void TestWaitEvent::frameQueuedBeforeResetIsNotLost()
{
    WaitEvent stop, packet;
    FrameQueue queue;
    QVERIFY(queue.tieTo(packet));
    queue.queueFrame();
    QCOMPARE(WaitEvent::waitAny(stop, packet, 1000), WaitEvent::SecondSignalled);
    QCOMPARE(queue.drain(), 1); // the engine's drain ends on an empty read...
    queue.queueFrame();          // ...a frame arrives...
    packet.reset();              // ...and then the engine resets the event
    QCOMPARE(WaitEvent::waitAny(stop, packet, 0), WaitEvent::SecondSignalled);
    QCOMPARE(queue.drain(), 1);
}

// In each round a set() from another thread races a loop of reset() calls.
// Whichever wins each race, once the burst is done one more reset must clear the event (a reset that skipped a flag written by a
// racing set would leave the event signalled for good).
void TestWaitEvent::setsRacingResetsLeaveAConsistentFlag()
{
    constexpr int kRounds = 2000;
    WaitEvent event;
    std::atomic<int> go{-1};
    std::atomic<int> done{-1};
    std::thread setter([&] {
        for (int round = 0; round < kRounds; ++round) {
            awaitValue(go, round);
            event.set();
            done.store(round);
        }
    });
    int stuck = 0;
    for (int round = 0; round < kRounds; ++round) {
        go.store(round);
        for (int spins = 0; done.load() != round; ++spins) {
            event.reset();
            if (spins > 2000)
                std::this_thread::yield();
        }
        event.reset();
        if (event.isSignalled())
            ++stuck;
    }
    setter.join();
    QCOMPARE(stuck, 0);
    event.set();
    QVERIFY(event.isSignalled());
}

QTEST_GUILESS_MAIN(TestWaitEvent)
#include "tst_waitevent.moc"
