// SPDX-License-Identifier: GPL-3.0-or-later
// WaitEvent: manual reset, waiting on two events, and sources tied to an event.
#include "platform/waitevent.h"

#include <QElapsedTimer>
#include <QtTest>

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

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

QTEST_GUILESS_MAIN(TestWaitEvent)
#include "tst_waitevent.moc"
