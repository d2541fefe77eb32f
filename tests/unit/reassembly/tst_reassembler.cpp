// SPDX-License-Identifier: GPL-3.0-or-later
// Reassembling IPv4 datagrams: round trips, limits, duplicates, overlaps, purge and threads.
#include "ipv4packets.h"

#include "app/uptime.h"
#include "engine/reassembler.h"

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

using namespace TestPackets;

using Order = QList<int>;
Q_DECLARE_METATYPE(TestPackets::Datagram)

namespace {

using Outcome = Reassembler::Outcome;

void tick(UpTime &clock, int seconds)
{
    for (int i = 0; i < seconds; ++i)
        QVERIFY(QMetaObject::invokeMethod(&clock, "timeout"));
}

Reassembler::Result offerBytes(Reassembler &reassembler, QByteArray bytes)
{
    return reassembler.offer(viewOf(bytes));
}

QByteArray bytesOf(const IPv4View &packet)
{
    const ByteView bytes = packet.packet();
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

// The datagram a correct reassembly gives back: the original with flags-and-offset 0.
QByteArray reassembledForm(Datagram d)
{
    d.flagsAndOffset = 0;
    return makePacket(d);
}

// Offers the pieces in `order`; every piece but the last must be held. Returns the last
// piece's result.
Reassembler::Result offerInOrder(Reassembler &reassembler, const QList<QByteArray> &pieces,
                                 const Order &order, bool *allHeld)
{
    *allHeld = true;
    Reassembler::Result result;
    for (int i = 0; i < order.size(); ++i) {
        result = offerBytes(reassembler, pieces[order[i]]);
        if (i + 1 < order.size() && result.outcome != Outcome::Held)
            *allHeld = false;
    }
    return result;
}

Order identity(int count)
{
    Order order;
    for (int i = 0; i < count; ++i)
        order.append(i);
    return order;
}

} // namespace

class TestReassembler : public QObject
{
    Q_OBJECT

private slots:
    void roundTrips_data();
    void roundTrips();
    void dropsDatagramsOverTheLimit();
    void fragmentSequences_data();
    void fragmentSequences();
    void keepsDatagramsOfDifferentSendersApart_data();
    void keepsDatagramsOfDifferentSendersApart();
    void countsADuplicatedFragmentOnce_data();
    void countsADuplicatedFragmentOnce();
    void purgesAnIncompleteSetWithinFifteenSeconds();
    void purgeInterval_data();
    void purgeInterval();
    void offerAndPurgeFromTwoThreads();
};

void TestReassembler::roundTrips_data()
{
    QTest::addColumn<int>("headerLength");
    QTest::addColumn<int>("totalLength");
    QTest::addColumn<int>("mtu");
    QTest::addColumn<QString>("order");

    QTest::newRow("1500 over 1400 in order") << 20 << 1500 << 1400 << "in order";
    QTest::newRow("1500 over 1400 last first") << 20 << 1500 << 1400 << "last first";
    QTest::newRow("options header over 576 reversed") << 24 << 1500 << 576 << "reversed";
    QTest::newRow("60-byte header over 576 shuffled") << 60 << 1500 << 576 << "shuffled";
    QTest::newRow("exactly 18000 payload bytes shuffled") << 20 << 18020 << 1500 << "shuffled";
    QTest::newRow("8-byte pieces shuffled") << 20 << 1500 << 28 << "shuffled";
}

void TestReassembler::roundTrips()
{
    QFETCH(int, headerLength);
    QFETCH(int, totalLength);
    QFETCH(int, mtu);
    QFETCH(QString, order);

    Datagram d;
    d.headerLength = headerLength;
    d.totalLength = totalLength;
    d.flagsAndOffset = Wire::kIPv4DontFragment;
    const QList<QByteArray> pieces = fragmentAll(makePacket(d), std::size_t(mtu));
    QVERIFY(pieces.size() >= 2);

    Order sequence = identity(pieces.size());
    if (order == "last first")
        sequence.move(sequence.size() - 1, 0);
    else if (order == "reversed")
        std::reverse(sequence.begin(), sequence.end());
    else if (order == "shuffled")
        std::shuffle(sequence.begin(), sequence.end(), std::mt19937(20240611));

    UpTime clock;
    Reassembler reassembler(&clock);
    bool allHeld = false;
    const Reassembler::Result result = offerInOrder(reassembler, pieces, sequence, &allHeld);
    QVERIFY(allHeld);
    QCOMPARE(result.outcome, Outcome::Complete);
    QVERIFY(result.packet.valid());
    QCOMPARE(bytesOf(result.packet), reassembledForm(d));
    QVERIFY(headerChecksumValid(bytesOf(result.packet)));
    QCOMPARE(reassembler.pendingCount(), 0);
}

void TestReassembler::dropsDatagramsOverTheLimit()
{
    Datagram d;
    d.totalLength = 18028; // 18008 payload bytes
    const QList<QByteArray> pieces = fragmentAll(makePacket(d), 1500);
    QCOMPARE(pieces.size(), 13); // twelve of 1480 = 17760, then 248

    UpTime clock;
    Reassembler reassembler(&clock);
    for (int i = 0; i < 12; ++i)
        QCOMPARE(offerBytes(reassembler, pieces[i]).outcome, Outcome::Held);
    QCOMPARE(reassembler.pendingCount(), 1);
    QCOMPARE(offerBytes(reassembler, pieces[12]).outcome, Outcome::Dropped);
    QCOMPARE(reassembler.pendingCount(), 0);
}

// Hand-made fragment sequences: offset (8-byte units), payload bytes, more-fragments.
struct Piece {
    int offset;
    int payload;
    bool more;
};
using PieceList = QList<Piece>;
Q_DECLARE_METATYPE(PieceList)

void TestReassembler::fragmentSequences_data()
{
    QTest::addColumn<PieceList>("pieces");
    QTest::addColumn<QString>("outcomes"); // H held, D dropped, C complete, per piece
    QTest::addColumn<int>("pending");      // entries left afterwards

    QTest::newRow("three pieces complete")
        << PieceList{{0, 16, true}, {2, 16, true}, {4, 8, false}} << "HHC" << 0;
    QTest::newRow("overlap makes more than the datagram holds")
        << PieceList{{0, 16, true}, {1, 16, true}, {3, 8, false}} << "HHD" << 0;
    QTest::newRow("overlap and hole of equal size never joins garbage")
        << PieceList{{0, 16, true}, {1, 16, true}, {4, 8, false}} << "HHD" << 0;
    QTest::newRow("misaligned middle piece waits, then overflows")
        << PieceList{{0, 12, true}, {2, 8, false}, {1, 8, true}} << "HHD" << 0;
    QTest::newRow("piece behind the end of the datagram")
        << PieceList{{0, 8, true}, {2, 8, false}, {3, 8, true}} << "HHD" << 0;
    QTest::newRow("offset 65528 plus 16 bytes passes 65535")
        << PieceList{{8191, 16, false}} << "D" << 0;
    QTest::newRow("reaching exactly 65535 is held, not joined")
        << PieceList{{8190, 15, false}} << "H" << 1;
    QTest::newRow("piece beyond 65535 leaves the set alone")
        << PieceList{{0, 16, true}, {8191, 16, true}, {2, 8, false}} << "HDC" << 0;
    QTest::newRow("a single last piece at offset zero is the datagram")
        << PieceList{{0, 40, false}} << "C" << 0;
}

void TestReassembler::fragmentSequences()
{
    QFETCH(PieceList, pieces);
    QFETCH(QString, outcomes);
    QFETCH(int, pending);

    UpTime clock;
    Reassembler reassembler(&clock);
    Datagram d;
    int length = 0;
    for (int i = 0; i < pieces.size(); ++i) {
        const Piece &p = pieces[i];
        const Reassembler::Result result =
            offerBytes(reassembler, makeFragment(d, p.offset, p.payload, p.more));
        const QChar expected = outcomes[i];
        const Outcome outcome = expected == 'H' ? Outcome::Held
            : expected == 'C'                   ? Outcome::Complete
                                                : Outcome::Dropped;
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.packet.valid(), outcome == Outcome::Complete);
        if (!p.more)
            length = p.offset * 8 + p.payload;
        if (outcome == Outcome::Complete) {
            d.totalLength = d.headerLength + length;
            QCOMPARE(bytesOf(result.packet), reassembledForm(d));
        }
    }
    QCOMPARE(reassembler.pendingCount(), pending);
}

void TestReassembler::keepsDatagramsOfDifferentSendersApart_data()
{
    QTest::addColumn<Datagram>("first");
    QTest::addColumn<Datagram>("second");

    Datagram a;
    a.identification = 0x0BAD;
    a.seed = 1;
    Datagram b = a;
    b.seed = 2;
    b.totalLength = 1200;

    Datagram otherSource = b;
    otherSource.source = qToBigEndian<quint32>(0xC0A83303); // 192.168.51.3
    QTest::newRow("two hosts, same identification") << a << otherSource;
    Datagram otherDestination = b;
    otherDestination.destination = qToBigEndian<quint32>(0xC6336401); // 198.51.100.1
    QTest::newRow("same host, other destination") << a << otherDestination;
    Datagram otherProtocol = b;
    otherProtocol.protocol = Wire::kProtocolTCP;
    QTest::newRow("same host, other protocol") << a << otherProtocol;
}

void TestReassembler::keepsDatagramsOfDifferentSendersApart()
{
    QFETCH(Datagram, first);
    QFETCH(Datagram, second);

    const QList<QByteArray> one = fragmentAll(makePacket(first), 576);
    const QList<QByteArray> two = fragmentAll(makePacket(second), 576);
    QCOMPARE(one.size(), 3);
    QCOMPARE(two.size(), 3);

    UpTime clock;
    Reassembler reassembler(&clock);
    // Interleaved: each set has all but its last piece in before either completes.
    for (int i : {0, 1}) {
        QCOMPARE(offerBytes(reassembler, one[i]).outcome, Outcome::Held);
        QCOMPARE(offerBytes(reassembler, two[i]).outcome, Outcome::Held);
    }
    QCOMPARE(reassembler.pendingCount(), 2);

    Reassembler::Result result = offerBytes(reassembler, two[2]);
    QCOMPARE(result.outcome, Outcome::Complete);
    QCOMPARE(bytesOf(result.packet), reassembledForm(second));
    result = offerBytes(reassembler, one[2]);
    QCOMPARE(result.outcome, Outcome::Complete);
    QCOMPARE(bytesOf(result.packet), reassembledForm(first));
    QCOMPARE(reassembler.pendingCount(), 0);
}

void TestReassembler::countsADuplicatedFragmentOnce_data()
{
    QTest::addColumn<int>("totalLength");
    QTest::addColumn<Order>("order"); // piece indices, repeats are retransmissions

    // 1500 over 576: pieces 0, 1, 2 (2 is the last).
    QTest::newRow("first piece twice") << 1500 << Order{0, 0, 1, 2};
    QTest::newRow("last piece twice, then the rest") << 1500 << Order{2, 2, 0, 1};
    QTest::newRow("middle piece five times") << 1500 << Order{1, 1, 1, 0, 1, 1, 2};
    // 17020 over 1500: twelve pieces, 17000 payload bytes; ten repeats of a 1480-byte piece
    // would pass 18000 if every copy were counted.
    QTest::newRow("near the limit, one piece repeated ten times")
        << 17020 << Order{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
}

void TestReassembler::countsADuplicatedFragmentOnce()
{
    QFETCH(int, totalLength);
    QFETCH(Order, order);

    Datagram d;
    d.totalLength = totalLength;
    const QList<QByteArray> pieces = fragmentAll(makePacket(d), totalLength > 1500 ? 1500 : 576);
    QCOMPARE(*std::max_element(order.begin(), order.end()), pieces.size() - 1);

    UpTime clock;
    Reassembler reassembler(&clock);
    bool allHeld = false;
    const Reassembler::Result result = offerInOrder(reassembler, pieces, order, &allHeld);
    QVERIFY(allHeld);
    QCOMPARE(result.outcome, Outcome::Complete);
    QCOMPARE(bytesOf(result.packet), reassembledForm(d));
    QCOMPARE(reassembler.pendingCount(), 0);
}

void TestReassembler::purgesAnIncompleteSetWithinFifteenSeconds()
{
    Datagram d;
    const QList<QByteArray> pieces = fragmentAll(makePacket(d), 576);
    QCOMPARE(pieces.size(), 3);

    UpTime clock;
    Reassembler reassembler(&clock);
    tick(clock, 3);
    QCOMPARE(offerBytes(reassembler, pieces[2]).outcome, Outcome::Held);
    tick(clock, 4);
    QCOMPARE(offerBytes(reassembler, pieces[0]).outcome, Outcome::Held); // expiry 7 + 15 = 22

    tick(clock, 14); // 21
    QCOMPARE(reassembler.purge(), 1000);
    QCOMPARE(reassembler.pendingCount(), 1);
    tick(clock, 1); // 22
    QCOMPARE(reassembler.purge(), 15000);
    QCOMPARE(reassembler.pendingCount(), 0);

    // The late piece starts a fresh set instead of completing the purged one.
    QCOMPARE(offerBytes(reassembler, pieces[1]).outcome, Outcome::Held);
    QCOMPARE(reassembler.pendingCount(), 1);
}

void TestReassembler::purgeInterval_data()
{
    QTest::addColumn<QList<int>>("offeredAt"); // clock seconds at which each set was offered
    QTest::addColumn<int>("purgeAt");
    QTest::addColumn<bool>("resetClock"); // the clock restarts from 0 before the purge
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("pending");

    QTest::newRow("empty table") << QList<int>{} << 0 << false << 15000 << 0;
    QTest::newRow("fresh set: 15 s left") << QList<int>{5} << 5 << false << 15000 << 1;
    QTest::newRow("14 s left") << QList<int>{5} << 6 << false << 14000 << 1;
    QTest::newRow("smallest of two counts") << QList<int>{2, 8} << 14 << false << 3000 << 2;
    QTest::newRow("expired and live") << QList<int>{0, 10} << 16 << false << 9000 << 1;
    QTest::newRow("all expired") << QList<int>{0, 1} << 40 << false << 15000 << 0;
    QTest::newRow("clock restarted: far-off expiry kept") << QList<int>{20} << 0 << true << 15000
                                                          << 1;
}

void TestReassembler::purgeInterval()
{
    QFETCH(QList<int>, offeredAt);
    QFETCH(int, purgeAt);
    QFETCH(bool, resetClock);
    QFETCH(int, interval);
    QFETCH(int, pending);

    UpTime clock;
    Reassembler reassembler(&clock);
    int now = 0;
    for (int i = 0; i < offeredAt.size(); ++i) {
        tick(clock, offeredAt[i] - now);
        now = offeredAt[i];
        Datagram d;
        d.identification = quint16(100 + i);
        QCOMPARE(offerBytes(reassembler, makeFragment(d, 0, 64, true)).outcome, Outcome::Held);
    }
    if (resetClock) {
        clock.stop();
        now = 0;
    }
    tick(clock, purgeAt - now);
    QCOMPARE(reassembler.purge(), interval);
    QCOMPARE(reassembler.pendingCount(), pending);
}

void TestReassembler::offerAndPurgeFromTwoThreads()
{
    // The engine thread offers while the purge timer's thread sweeps the table.
    UpTime clock;
    Reassembler reassembler(&clock);
    std::atomic<bool> done{false};
    std::thread purger([&] {
        while (!done)
            reassembler.purge();
    });

    int completed = 0;
    for (int n = 0; n < 300; ++n) {
        Datagram d;
        d.identification = quint16(n);
        d.seed = quint8(n);
        const QList<QByteArray> pieces = fragmentAll(makePacket(d), 576);
        Reassembler::Result result;
        for (int i = pieces.size() - 1; i >= 0; --i)
            result = offerBytes(reassembler, pieces[i]);
        if (result.outcome == Outcome::Complete && bytesOf(result.packet) == reassembledForm(d))
            ++completed;
    }
    done = true;
    purger.join();
    QCOMPARE(completed, 300);
    QCOMPARE(reassembler.pendingCount(), 0);
}

QTEST_GUILESS_MAIN(TestReassembler)
#include "tst_reassembler.moc"
