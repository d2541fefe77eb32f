// SPDX-License-Identifier: GPL-3.0-or-later
// The user table: idle marking, moves, host names, counters, clearing and thread safety.
#include "app/uptime.h"
#include "engine/arptable.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtEndian>
#include <QtTest>
#include <atomic>
#include <thread>

namespace {

quint32 ipv4(quint8 a, quint8 b, quint8 c, quint8 d)
{
    return qToBigEndian(quint32(a) << 24 | quint32(b) << 16 | quint32(c) << 8 | d);
}

quint32 client(quint8 host)
{
    return ipv4(192, 168, 51, host);
}

QByteArray mac(quint8 last)
{
    return QByteArray::fromHex("3c5ab4000a") + QByteArray(1, char(last));
}

UserRecord record(quint8 macLast, const QByteArray &hostName = QByteArray())
{
    UserRecord user;
    user.origin = UserFromDhcp;
    user.mac = mac(macLast);
    user.hostName = hostName;
    return user;
}

// Advances the uptime clock by whole seconds through its own tick.
void tick(UpTime &clock, int seconds = 1)
{
    for (int i = 0; i < seconds; ++i)
        QVERIFY(QMetaObject::invokeMethod(&clock, "timeout"));
}

void runIdleCheck(ARPTable &table)
{
    QVERIFY(QMetaObject::invokeMethod(&table, "idleTimeout"));
}

QTimer *idleTimer(ARPTable &table)
{
    return table.findChild<QTimer *>();
}

bool totalsEqual(const UpTime::Totals &a, const UpTime::Totals &b)
{
    return a.sentBytes == b.sentBytes && a.receivedBytes == b.receivedBytes
        && a.sentPackets == b.sentPackets && a.receivedPackets == b.receivedPackets;
}

} // namespace

class TestARPTable : public QObject
{
    Q_OBJECT
private slots:
    void idleMarking_data();
    void idleMarking();
    void idleThenActiveAgain_data();
    void idleThenActiveAgain();
    void idleTimerInterval_data();
    void idleTimerInterval();
    void macMovesToNewAddress();
    void reusedAddressKeepsOtherClient();
    void hostNameOnAdd_data();
    void hostNameOnAdd();
    void setHostNameOfUser();
    void addReplacesCounters();
    void countsByKind_data();
    void countsByKind();
    void nonUserChangesNothing();
    void countersWrap();
    void clearKeepsNamesAndGateway();
    void removeAlwaysSignals_data();
    void removeAlwaysSignals();
    void refusesMalformedMac();
    void gatewayMac_data();
    void gatewayMac();
    void receiverMayCallBack();
    void concurrentUpdates();
};

// Runs `seconds` of uptime second by second. Each listed user sends a frame every
// `trafficEvery` seconds (0: never); the idle check runs whenever the table's timer would
// fire. After every second: a user is inactive exactly when its last frame (or its addition)
// is 60 or more seconds old; changed() came once for an idle check that marked any number of
// users, and once for every user that a frame made active again.
void TestARPTable::idleMarking_data()
{
    QTest::addColumn<int>("users");
    QTest::addColumn<int>("trafficEvery");
    QTest::addColumn<int>("addedAt");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<bool>("finallyInactive");
    QTest::addColumn<int>("minimumTransitions");

    QTest::newRow("traffic every 30 s") << 1 << 30 << 0 << 600 << false << 0;
    QTest::newRow("traffic every 59 s") << 1 << 59 << 0 << 600 << false << 0;
    QTest::newRow("silent from the start") << 1 << 0 << 0 << 121 << true << 1;
    QTest::newRow("silent, added between checks") << 1 << 0 << 17 << 200 << true << 1;
    QTest::newRow("two silent users together") << 2 << 0 << 0 << 130 << true << 1;
    QTest::newRow("traffic every 61 s") << 1 << 61 << 0 << 300 << false << 8;
    QTest::newRow("traffic every 90 s, three users") << 3 << 90 << 5 << 440 << true << 27;
}

void TestARPTable::idleMarking()
{
    QFETCH(int, users);
    QFETCH(int, trafficEvery);
    QFETCH(int, addedAt);
    QFETCH(int, seconds);
    QFETCH(bool, finallyInactive);
    QFETCH(int, minimumTransitions);

    UpTime clock;
    ARPTable table(&clock);
    QSignalSpy changed(&table, &ARPTable::changed);
    table.start();
    QTimer *timer = idleTimer(table);
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 60000);
    qint64 nextCheck = 60;

    QHash<quint32, qint64> lastFrame;
    QHash<quint32, bool> wasInactive;
    int expectedSignals = 0;
    int transitions = 0;
    for (qint64 now = 0; now <= seconds; ++now) {
        if (now > 0)
            tick(clock);
        QCOMPARE(qint64(clock.seconds()), now);
        if (now == addedAt) {
            for (int i = 0; i < users; ++i) {
                QVERIFY(table.add(client(quint8(10 + i)), record(quint8(i))));
                lastFrame[client(quint8(10 + i))] = now;
                wasInactive[client(quint8(10 + i))] = false;
            }
            expectedSignals += users;
        }
        if (now > addedAt && trafficEvery > 0 && (now - addedAt) % trafficEvery == 0) {
            for (quint32 address : lastFrame.keys()) {
                table.update(address, UserSent, 100);
                lastFrame[address] = now;
            }
        }
        if (now == nextCheck) {
            runIdleCheck(table);
            QVERIFY(timer->isActive());
            QVERIFY(timer->interval() >= 1000 && timer->interval() <= 60000);
            QCOMPARE(timer->interval() % 1000, 0);
            nextCheck = now + timer->interval() / 1000;
        }
        bool anyMarked = false;
        int reactivated = 0;
        const QHash<quint32, UserRecord> snapshot = table.users();
        for (auto it = lastFrame.constBegin(); it != lastFrame.constEnd(); ++it) {
            const bool inactive = snapshot.value(it.key()).inactive != 0;
            if (inactive != (now - it.value() >= 60))
                QFAIL(qPrintable(QStringLiteral("second %1: user %2 inactive=%3 after %4 s "
                                                "of silence")
                                     .arg(now).arg(it.key(), 0, 16).arg(inactive)
                                     .arg(now - it.value())));
            if (inactive != wasInactive[it.key()]) {
                ++transitions;
                if (inactive)
                    anyMarked = true;
                else
                    ++reactivated;
            }
            wasInactive[it.key()] = inactive;
        }
        // One signal per idle check that marked someone, one per user woken by a frame.
        expectedSignals += (anyMarked ? 1 : 0) + reactivated;
        QCOMPARE(changed.count(), expectedSignals);
    }
    QVERIFY(transitions >= minimumTransitions);
    for (const UserRecord &user : table.users())
        QCOMPARE(user.inactive != 0, finallyInactive);
}

void TestARPTable::idleThenActiveAgain_data()
{
    QTest::addColumn<quint32>("kind");
    QTest::newRow("user sends") << quint32(UserSent);
    QTest::newRow("frame for the user") << quint32(UserReceived);
}

void TestARPTable::idleThenActiveAgain()
{
    QFETCH(quint32, kind);
    UpTime clock;
    ARPTable table(&clock);
    QVERIFY(table.add(client(10), record(1)));
    QSignalSpy changed(&table, &ARPTable::changed);

    tick(clock, 59);
    runIdleCheck(table);
    QCOMPARE(table.users().value(client(10)).inactive, quint8(0));
    QCOMPARE(changed.count(), 0);

    tick(clock, 2);
    runIdleCheck(table);
    QCOMPARE(table.users().value(client(10)).inactive, quint8(1));
    QCOMPARE(changed.count(), 1);
    runIdleCheck(table); // already inactive: nothing new to say
    QCOMPARE(changed.count(), 1);

    tick(clock, 5);
    table.update(client(10), kind, 64);
    QCOMPARE(table.users().value(client(10)).inactive, quint8(0));
    QCOMPARE(table.users().value(client(10)).lastSeen, clock.seconds());
    QCOMPARE(changed.count(), 2);
    table.update(client(10), kind, 64);
    QCOMPARE(changed.count(), 2);
}

// Users' last frames at the given seconds, the check at `checkAt`: the timer is restarted
// with the smallest remaining time of the still active users.
void TestARPTable::idleTimerInterval_data()
{
    QTest::addColumn<QList<int>>("lastSeen");
    QTest::addColumn<int>("checkAt");
    QTest::addColumn<int>("expectedMs");

    QTest::newRow("no users") << QList<int>{} << 60 << 60000;
    QTest::newRow("one user, 20 s left") << QList<int>{20} << 60 << 20000;
    QTest::newRow("smallest of three") << QList<int>{0, 25, 40} << 40 << 20000;
    QTest::newRow("one idle, one with 1 s left") << QList<int>{0, 41} << 100 << 1000;
    QTest::newRow("all idle") << QList<int>{0, 10} << 75 << 60000;
    QTest::newRow("just seen") << QList<int>{30} << 30 << 60000;
}

void TestARPTable::idleTimerInterval()
{
    QFETCH(QList<int>, lastSeen);
    QFETCH(int, checkAt);
    QFETCH(int, expectedMs);

    UpTime clock;
    ARPTable table(&clock);
    table.start();
    for (int i = 0; i < lastSeen.size(); ++i)
        QVERIFY(table.add(client(quint8(10 + i)), record(quint8(i))));
    for (int i = 0; i < lastSeen.size(); ++i) {
        tick(clock, lastSeen[i] - int(clock.seconds()));
        table.update(client(quint8(10 + i)), UserReceived, 1);
    }
    tick(clock, checkAt - int(clock.seconds()));
    runIdleCheck(table);
    QTimer *timer = idleTimer(table);
    QVERIFY(timer->isActive());
    QVERIFY(timer->isSingleShot());
    QCOMPARE(timer->interval(), expectedMs);
}

void TestARPTable::macMovesToNewAddress()
{
    UpTime clock;
    ARPTable table(&clock);
    QVERIFY(table.add(client(10), record(1, "laptop")));
    QVERIFY(table.add(client(11), record(2)));
    QVERIFY(table.add(client(20), record(1)));

    const QHash<quint32, UserRecord> users = table.users();
    QCOMPARE(users.size(), 2);
    QVERIFY(!users.contains(client(10)));
    QCOMPARE(table.macOf(client(10)), QByteArray());
    QCOMPARE(table.macOf(client(20)), mac(1));
    QCOMPARE(table.macOf(client(11)), mac(2));
    QCOMPARE(users.value(client(20)).mac, mac(1));
    QCOMPARE(users.value(client(20)).hostName, QByteArray("laptop"));
    QCOMPARE(users.value(client(11)).mac, mac(2));

    // The MAC now leads to the new address only.
    table.setHostName(mac(1), "renamed");
    QCOMPARE(table.users().value(client(20)).hostName, QByteArray("renamed"));
    table.remove(client(20));
    QCOMPARE(table.users().keys(), QList<quint32>{client(11)});
}

// An address handed to a second client: the first client's MAC must no longer lead to it,
// or its next move or name would hit the second client.
void TestARPTable::reusedAddressKeepsOtherClient()
{
    UpTime clock;
    ARPTable table(&clock);
    QVERIFY(table.add(client(10), record(1, "first")));
    QVERIFY(table.add(client(10), record(2, "second")));

    QSignalSpy changed(&table, &ARPTable::changed);
    table.setHostName(mac(1), "first-renamed");
    QCOMPARE(changed.count(), 0);
    QCOMPARE(table.users().value(client(10)).hostName, QByteArray("second"));

    QVERIFY(table.add(client(30), record(1)));
    const QHash<quint32, UserRecord> users = table.users();
    QCOMPARE(users.size(), 2);
    QCOMPARE(users.value(client(10)).mac, mac(2));
    QCOMPARE(users.value(client(30)).mac, mac(1));
    QCOMPARE(users.value(client(30)).hostName, QByteArray("first-renamed"));
}

void TestARPTable::hostNameOnAdd_data()
{
    QTest::addColumn<QByteArray>("learned");
    QTest::addColumn<QByteArray>("given");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("learned, none given") << QByteArray("phone") << QByteArray() << QByteArray("phone");
    QTest::newRow("learned, own given") << QByteArray("phone") << QByteArray("tablet")
                                        << QByteArray("tablet");
    QTest::newRow("nothing learned") << QByteArray() << QByteArray() << QByteArray();
}

void TestARPTable::hostNameOnAdd()
{
    QFETCH(QByteArray, learned);
    QFETCH(QByteArray, given);
    QFETCH(QByteArray, expected);

    UpTime clock;
    ARPTable table(&clock);
    QSignalSpy changed(&table, &ARPTable::changed);
    if (!learned.isEmpty())
        table.setHostName(mac(7), learned);
    QCOMPARE(changed.count(), 0); // not a user yet
    QVERIFY(table.users().isEmpty());

    QVERIFY(table.add(client(40), record(7, given)));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(table.users().value(client(40)).hostName, expected);

    // The name the user now has is the one remembered for its MAC.
    table.remove(client(40));
    QVERIFY(table.add(client(41), record(7)));
    QCOMPARE(table.users().value(client(41)).hostName, expected);
}

void TestARPTable::setHostNameOfUser()
{
    UpTime clock;
    ARPTable table(&clock);
    QVERIFY(table.add(client(10), record(1)));
    QSignalSpy changed(&table, &ARPTable::changed);
    table.setHostName(mac(1), "desk");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(table.users().value(client(10)).hostName, QByteArray("desk"));
    table.setHostName(QByteArray("short"), "bad");
    QCOMPARE(changed.count(), 1);
}

void TestARPTable::addReplacesCounters()
{
    UpTime clock;
    ARPTable table(&clock);
    QVERIFY(table.add(client(10), record(1)));
    table.update(client(10), UserSent, 1500);
    table.update(client(10), UserReceived, 60);
    tick(clock, 70);
    runIdleCheck(table);
    QCOMPARE(table.users().value(client(10)).inactive, quint8(1));

    UserRecord again = record(1);
    again.origin = UserFromTraffic;
    again.lastSeen = 3; // the table sets it
    QVERIFY(table.add(client(10), again));
    const UserRecord user = table.users().value(client(10));
    QCOMPARE(user.origin, quint32(UserFromTraffic));
    QCOMPARE(user.bytesSent, 0u);
    QCOMPARE(user.bytesReceived, 0u);
    QCOMPARE(user.packetsSent, 0u);
    QCOMPARE(user.packetsReceived, 0u);
    QCOMPARE(user.inactive, quint8(0));
    QCOMPARE(user.lastSeen, 70u);
    // The clock's totals are the run's, not the user's: they stay.
    QCOMPARE(clock.snapshot().sentBytes, 1500u);
    QCOMPARE(clock.snapshot().receivedBytes, 60u);
}

void TestARPTable::countsByKind_data()
{
    QTest::addColumn<quint32>("kind");
    QTest::addColumn<bool>("sent");
    QTest::newRow("kind 1 sent") << 1u << true;
    QTest::newRow("kind 2 received") << 2u << false;
    QTest::newRow("kind 0 received") << 0u << false;
    QTest::newRow("kind 7 received") << 7u << false;
    QTest::newRow("kind 2^32-1 received") << 0xFFFFFFFFu << false;
}

void TestARPTable::countsByKind()
{
    QFETCH(quint32, kind);
    QFETCH(bool, sent);
    UpTime clock;
    ARPTable table(&clock);
    QVERIFY(table.add(client(10), record(1)));
    const QHash<quint32, UserRecord> before = table.users();
    table.update(client(10), kind, 1500);
    table.update(client(10), kind, 40);

    // A snapshot taken earlier is not touched by later counting.
    const UserRecord earlier = before.value(client(10));
    QCOMPARE(earlier.packetsSent + earlier.packetsReceived, 0u);
    const UserRecord user = table.users().value(client(10));
    const UpTime::Totals totals = clock.snapshot();
    QCOMPARE(user.bytesSent, sent ? 1540u : 0u);
    QCOMPARE(user.packetsSent, sent ? 2u : 0u);
    QCOMPARE(user.bytesReceived, sent ? 0u : 1540u);
    QCOMPARE(user.packetsReceived, sent ? 0u : 2u);
    QCOMPARE(totals.sentBytes, user.bytesSent);
    QCOMPARE(totals.sentPackets, user.packetsSent);
    QCOMPARE(totals.receivedBytes, user.bytesReceived);
    QCOMPARE(totals.receivedPackets, user.packetsReceived);
}

void TestARPTable::nonUserChangesNothing()
{
    UpTime clock;
    ARPTable table(&clock);
    QVERIFY(table.add(client(10), record(1)));
    table.update(client(10), UserSent, 100);
    tick(clock, 61);
    runIdleCheck(table);
    const QHash<quint32, UserRecord> before = table.users();
    const UpTime::Totals totalsBefore = clock.snapshot();
    QSignalSpy changed(&table, &ARPTable::changed);

    table.update(client(11), UserSent, 1500);
    table.update(client(11), UserReceived, 1500);
    table.update(ipv4(203, 0, 113, 5), UserReceived, 1500);

    QCOMPARE(changed.count(), 0);
    QVERIFY(totalsEqual(clock.snapshot(), totalsBefore));
    const QHash<quint32, UserRecord> after = table.users();
    QCOMPARE(after.keys(), before.keys());
    const UserRecord user = after.value(client(10));
    QCOMPARE(user.bytesSent, 100u);
    QCOMPARE(user.packetsSent, 1u);
    QCOMPARE(user.lastSeen, 0u);
    QCOMPARE(user.inactive, quint8(1));
}

void TestARPTable::countersWrap()
{
    UpTime clock;
    ARPTable table(&clock);
    QVERIFY(table.add(client(10), record(1)));
    table.update(client(10), UserSent, 4294967000u);
    table.update(client(10), UserSent, 1000u);
    table.update(client(10), UserReceived, 0xFFFFFFFFu);
    table.update(client(10), UserReceived, 2u);
    const UserRecord user = table.users().value(client(10));
    QCOMPARE(user.bytesSent, 704u);
    QCOMPARE(user.bytesReceived, 1u);
    QCOMPARE(clock.snapshot().sentBytes, 704u);
    QCOMPARE(clock.snapshot().receivedBytes, 1u);
}

void TestARPTable::clearKeepsNamesAndGateway()
{
    UpTime clock;
    ARPTable table(&clock);
    table.setGatewayMac(QByteArray::fromHex("001122334455"));
    table.setHostName(mac(2), "printer");
    QVERIFY(table.add(client(10), record(1, "laptop")));
    QVERIFY(table.add(client(11), record(2)));
    table.start();
    QSignalSpy changed(&table, &ARPTable::changed);

    table.clear();
    QCOMPARE(changed.count(), 1);
    QVERIFY(table.users().isEmpty());
    QVERIFY(!idleTimer(table)->isActive());
    QCOMPARE(table.gatewayMac(), QByteArray::fromHex("001122334455"));

    // Names survive; the address entries do not: the MAC is free to come back anywhere.
    table.setHostName(mac(1), "laptop2");
    QCOMPARE(changed.count(), 1);
    QVERIFY(table.add(client(50), record(1)));
    QVERIFY(table.add(client(51), record(2)));
    QCOMPARE(table.users().size(), 2);
    QCOMPARE(table.users().value(client(50)).hostName, QByteArray("laptop2"));
    QCOMPARE(table.users().value(client(51)).hostName, QByteArray("printer"));
}

void TestARPTable::removeAlwaysSignals_data()
{
    QTest::addColumn<bool>("present");
    QTest::newRow("a user") << true;
    QTest::newRow("not a user") << false;
}

void TestARPTable::removeAlwaysSignals()
{
    QFETCH(bool, present);
    UpTime clock;
    ARPTable table(&clock);
    QVERIFY(table.add(client(11), record(2)));
    if (present)
        QVERIFY(table.add(client(10), record(1)));
    QSignalSpy changed(&table, &ARPTable::changed);
    table.remove(client(10));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(table.users().keys(), QList<quint32>{client(11)});

    // The removed user's MAC no longer leads anywhere: naming it changes no user.
    table.setHostName(mac(1), "gone");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(table.users().value(client(11)).hostName, QByteArray());
}

void TestARPTable::refusesMalformedMac()
{
    UpTime clock;
    ARPTable table(&clock);
    QSignalSpy changed(&table, &ARPTable::changed);
    UserRecord bad = record(1);
    bad.mac.chop(1);
    QVERIFY(!table.add(client(10), bad));
    bad.mac.clear();
    QVERIFY(!table.add(client(10), bad));
    QVERIFY(table.users().isEmpty());
    QCOMPARE(changed.count(), 0);
}

void TestARPTable::gatewayMac_data()
{
    QTest::addColumn<QByteArray>("given");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("six bytes") << QByteArray::fromHex("00e04c680102") << QByteArray::fromHex("00e04c680102");
    QTest::newRow("all ones") << QByteArray::fromHex("ffffffffffff") << QByteArray::fromHex("ffffffffffff");
    QTest::newRow("all zero") << QByteArray::fromHex("000000000000") << QByteArray::fromHex("000000000000");
    QTest::newRow("too short") << QByteArray::fromHex("00e04c6801") << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestARPTable::gatewayMac()
{
    QFETCH(QByteArray, given);
    QFETCH(QByteArray, expected);
    UpTime clock;
    ARPTable table(&clock);
    QCOMPARE(table.gatewayMac(), QByteArray());
    table.setGatewayMac(QByteArray::fromHex("0a0b0c0d0e0f"));
    table.setGatewayMac(given);
    QCOMPARE(table.gatewayMac(), expected);
}

// A directly connected receiver reads the table from inside changed(): every kind of
// change must have released the table before it signals.
void TestARPTable::receiverMayCallBack()
{
    UpTime clock;
    ARPTable table(&clock);
    QList<int> seen;
    connect(&table, &ARPTable::changed, this, [&table, &seen] { seen << table.users().size(); },
            Qt::DirectConnection);
    QVERIFY(table.add(client(10), record(1)));
    QVERIFY(table.add(client(11), record(2)));
    table.setHostName(mac(1), "named");
    tick(clock, 60);
    runIdleCheck(table);
    table.update(client(10), UserSent, 1);
    table.remove(client(11));
    table.clear();
    QCOMPARE(seen, (QList<int>{1, 2, 2, 2, 2, 1, 0}));
}

// Two engine-like threads count frames for the same users while the owner reads
// snapshots, renames and re-adds an unrelated user; no count may be lost.
void TestARPTable::concurrentUpdates()
{
    UpTime clock;
    ARPTable table(&clock);
    QVERIFY(table.add(client(10), record(1)));
    QVERIFY(table.add(client(11), record(2)));
    table.setGatewayMac(QByteArray::fromHex("001122334455"));
    constexpr int kFrames = 100000;

    std::atomic<int> running{2};
    auto engine = [&table, &running](quint32 kind, quint32 length) {
        for (int i = 0; i < kFrames; ++i) {
            table.update(client(10), kind, length);
            table.update(client(11), kind, length);
            table.update(client(12), kind, length); // not a user
            if (table.gatewayMac().size() != 6)
                break;
            if (table.macOf(client(11)) != mac(2))
                break;
            if (i % 1000 == 0 && !table.users().contains(client(10)))
                break;
        }
        --running;
    };
    std::thread sender(engine, quint32(UserSent), 3u);
    std::thread receiver(engine, quint32(UserReceived), 5u);
    int rounds = 0;
    bool consistent = true;
    while (running > 0 || rounds == 0) {
        table.setHostName(mac(1), QByteArray::number(rounds));
        consistent = table.add(client(20), record(9)) && consistent;
        table.remove(client(20));
        const QHash<quint32, UserRecord> users = table.users();
        consistent = consistent && users.value(client(10)).bytesSent % 3 == 0;
        runIdleCheck(table);
        ++rounds;
    }
    sender.join();
    receiver.join();
    QVERIFY(consistent);

    const QHash<quint32, UserRecord> users = table.users();
    for (quint32 address : {client(10), client(11)}) {
        const UserRecord user = users.value(address);
        QCOMPARE(user.packetsSent, quint32(kFrames));
        QCOMPARE(user.bytesSent, quint32(3 * kFrames));
        QCOMPARE(user.packetsReceived, quint32(kFrames));
        QCOMPARE(user.bytesReceived, quint32(5 * kFrames));
    }
    const UpTime::Totals totals = clock.snapshot();
    QCOMPARE(totals.sentPackets, quint32(2 * kFrames));
    QCOMPARE(totals.sentBytes, quint32(6 * kFrames));
    QCOMPARE(totals.receivedPackets, quint32(2 * kFrames));
    QCOMPARE(totals.receivedBytes, quint32(10 * kFrames));
    QVERIFY(!users.contains(client(20)));
}

QTEST_GUILESS_MAIN(TestARPTable)
#include "tst_arptable.moc"
