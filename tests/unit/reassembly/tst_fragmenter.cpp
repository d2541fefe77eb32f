// SPDX-License-Identifier: GPL-3.0-or-later
// Cutting IPv4 packets to an MTU: offsets, flags, lengths, headers, bytes and refusals.
#include "ipv4packets.h"

#include "engine/fragmenter.h"

#include <QtTest>

#include <cstring>
#include <memory>

using namespace TestPackets;

using OffsetList = QList<int>;

class TestFragmenter : public QObject
{
    Q_OBJECT

private slots:
    void cutsToTheMTU_data();
    void cutsToTheMTU();
    void fitsAndGoesWholeUnchanged_data();
    void fitsAndGoesWholeUnchanged();
    void refusesWhatCannotBeCut_data();
    void refusesWhatCannotBeCut();
    void cutsAPacketLyingInTheTargetFrame();
};

void TestFragmenter::cutsToTheMTU_data()
{
    QTest::addColumn<int>("headerLength");
    QTest::addColumn<int>("totalLength");
    QTest::addColumn<quint16>("flags");
    QTest::addColumn<int>("mtu");
    QTest::addColumn<OffsetList>("offsets");  // in 8-byte units
    QTest::addColumn<OffsetList>("payloads"); // bytes
    QTest::addColumn<bool>("lastMoreFragments");

    const quint16 df = Wire::kIPv4DontFragment;
    QTest::newRow("1500 over 1400, don't-fragment cleared")
        << 20 << 1500 << df << 1400 << OffsetList{0, 172} << OffsetList{1376, 104} << false;
    QTest::newRow("1500 over 1400 without flags")
        << 20 << 1500 << quint16(0) << 1400 << OffsetList{0, 172} << OffsetList{1376, 104}
        << false;
    QTest::newRow("24-byte header with options over 1400")
        << 24 << 1500 << df << 1400 << OffsetList{0, 172} << OffsetList{1376, 100} << false;
    QTest::newRow("60-byte header over 576")
        << 60 << 1500 << quint16(0) << 576 << OffsetList{0, 64, 128} << OffsetList{512, 512, 416}
        << false;
    QTest::newRow("MTU not a multiple of 8 rounds the piece down")
        << 20 << 1500 << quint16(0) << 1403 << OffsetList{0, 172} << OffsetList{1376, 104}
        << false;
    QTest::newRow("three pieces over 576")
        << 20 << 1500 << quint16(0) << 576 << OffsetList{0, 69, 138} << OffsetList{552, 552, 376}
        << false;
    QTest::newRow("reassembled datagram over 1500")
        << 20 << 4020 << quint16(0) << 1500 << OffsetList{0, 185, 370}
        << OffsetList{1480, 1480, 1040} << false;
    QTest::newRow("jumbo MTU is capped at the frame's 1500")
        << 20 << 4020 << quint16(0) << 9000 << OffsetList{0, 185, 370}
        << OffsetList{1480, 1480, 1040} << false;
    QTest::newRow("smallest MTU: 8 bytes per piece")
        << 20 << 44 << quint16(0) << 28 << OffsetList{0, 1, 2} << OffsetList{8, 8, 8} << false;
    QTest::newRow("a middle fragment cut again keeps its place and more-fragments")
        << 20 << 1500 << quint16(100 | Wire::kIPv4MoreFragments) << 1400
        << OffsetList{100, 272} << OffsetList{1376, 104} << true;
    QTest::newRow("a last fragment cut again ends the datagram")
        << 20 << 1500 << quint16(100) << 1400 << OffsetList{100, 272} << OffsetList{1376, 104}
        << false;
}

void TestFragmenter::cutsToTheMTU()
{
    QFETCH(int, headerLength);
    QFETCH(int, totalLength);
    QFETCH(quint16, flags);
    QFETCH(int, mtu);
    QFETCH(OffsetList, offsets);
    QFETCH(OffsetList, payloads);
    QFETCH(bool, lastMoreFragments);

    Datagram d;
    d.headerLength = headerLength;
    d.totalLength = totalLength;
    d.flagsAndOffset = flags;
    const QByteArray original = makePacket(d);

    bool lengthsOk = false;
    const QList<QByteArray> pieces = fragmentAll(original, std::size_t(mtu), &lengthsOk);
    QVERIFY(lengthsOk);
    QCOMPARE(pieces.size(), offsets.size());

    const int originalOffset = (flags & Wire::kIPv4OffsetMask) * 8;
    for (int i = 0; i < pieces.size(); ++i) {
        QByteArray piece = pieces[i];
        const IPv4View ip = viewOf(piece);
        QVERIFY(ip.valid());
        QVERIFY(int(ip.totalLength()) <= qMin(mtu, 1500));
        QCOMPARE(int(ip.headerLength()), headerLength);
        QCOMPARE(int(ip.totalLength()), headerLength + payloads[i]);
        QCOMPARE(int(ip.fragmentOffset()), offsets[i]);
        QVERIFY(!ip.dontFragment());
        const bool last = i == pieces.size() - 1;
        QCOMPARE(ip.moreFragments(), last ? lastMoreFragments : true);
        QCOMPARE(ip.identification(), d.identification);
        QVERIFY(headerChecksumValid(piece));

        // Header copied in full (options too), apart from length, flags and checksum.
        QByteArray expectedHeader = original.left(headerLength);
        QByteArray header = piece.left(headerLength);
        for (int field : {2, 3, 6, 7, 10, 11})
            expectedHeader[field] = header[field] = 0;
        QCOMPARE(header, expectedHeader);

        // Payload bytes come from the right place of the datagram.
        const int from = (offsets[i] * 8) - originalOffset;
        QCOMPARE(piece.mid(headerLength), original.mid(headerLength + from, payloads[i]));
    }
}

void TestFragmenter::fitsAndGoesWholeUnchanged_data()
{
    QTest::addColumn<int>("totalLength");
    QTest::addColumn<quint16>("flags");
    QTest::addColumn<int>("mtu");

    QTest::newRow("exactly the MTU") << 1400 << quint16(0) << 1400;
    QTest::newRow("exactly the MTU with don't-fragment") << 1400 << Wire::kIPv4DontFragment << 1400;
    QTest::newRow("below the MTU") << 60 << quint16(0) << 1500;
    QTest::newRow("a fragment that fits stays as it is")
        << 500 << quint16(37 | Wire::kIPv4MoreFragments) << 1400;
}

void TestFragmenter::fitsAndGoesWholeUnchanged()
{
    QFETCH(int, totalLength);
    QFETCH(quint16, flags);
    QFETCH(int, mtu);

    Datagram d;
    d.totalLength = totalLength;
    d.flagsAndOffset = flags;
    const QByteArray original = makePacket(d);

    auto buffer = std::make_unique<PacketBuffer>();
    std::memset(buffer.get(), 0xEE, sizeof(PacketBuffer));
    QByteArray source = original;
    Fragmenter fragmenter(viewOf(source), std::size_t(mtu));
    QCOMPARE(fragmenter.count(), std::size_t(1));
    QVERIFY(fragmenter.next(*buffer));
    QVERIFY(!fragmenter.next(*buffer));

    QCOMPARE(buffer->length, quint32(totalLength + 14));
    const QByteArray sent(reinterpret_cast<const char *>(buffer->frame) + 14, totalLength);
    QCOMPARE(sent, original);
    // The Ethernet header in front is left to the caller.
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer->frame), 14),
             QByteArray(14, char(0xEE)));
}

void TestFragmenter::refusesWhatCannotBeCut_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<int>("mtu");

    Datagram d;
    QTest::newRow("MTU leaves 7 payload bytes") << makePacket(d) << 27;
    QTest::newRow("MTU below the header") << makePacket(d) << 10;
    QTest::newRow("MTU zero") << makePacket(d) << 0;
    d.headerLength = 60;
    QTest::newRow("60-byte header, MTU 67") << makePacket(d) << 67;

    d = Datagram();
    QByteArray truncated = makePacket(d).left(1000); // claims 1500 bytes
    QTest::newRow("shorter than its total length") << truncated << 1400;
    QByteArray badLength = makePacket(d);
    badLength[0] = char(0x44); // header length 16
    QTest::newRow("header length below 20") << badLength << 1400;
    QByteArray badVersion = makePacket(d);
    badVersion[0] = char(0x65);
    QTest::newRow("not version 4") << badVersion << 1400;
    d.flagsAndOffset = 8100 | Wire::kIPv4MoreFragments; // 64800 + 1480 > 65535
    QTest::newRow("fragment reaching past 65535") << makePacket(d) << 1400;
    QTest::newRow("empty") << QByteArray() << 1400;
}

void TestFragmenter::refusesWhatCannotBeCut()
{
    QFETCH(QByteArray, packet);
    QFETCH(int, mtu);

    auto buffer = std::make_unique<PacketBuffer>();
    std::memset(buffer.get(), 0x5A, sizeof(PacketBuffer));
    auto untouched = std::make_unique<PacketBuffer>(*buffer);

    Fragmenter fragmenter(viewOf(packet), std::size_t(mtu));
    QVERIFY(fragmenter.dropped());
    QCOMPARE(fragmenter.count(), std::size_t(0));
    QVERIFY(!fragmenter.next(*buffer));
    QVERIFY(std::memcmp(buffer.get(), untouched.get(), sizeof(PacketBuffer)) == 0);
}

void TestFragmenter::cutsAPacketLyingInTheTargetFrame()
{
    // Router mode edits the read frame in place and sends it on the other adapter, whose MTU
    // may be smaller: source and target are then the same bytes.
    Datagram d;
    d.headerLength = 24;
    d.totalLength = 1500;
    const QByteArray original = makePacket(d);
    const QList<QByteArray> expected = fragmentAll(original, 576);
    QCOMPARE(expected.size(), 3);

    auto buffer = std::make_unique<PacketBuffer>();
    std::memset(buffer.get(), 0, sizeof(PacketBuffer));
    std::memcpy(buffer->frame + 14, original.constData(), std::size_t(original.size()));
    buffer->length = quint32(original.size() + 14);

    Fragmenter fragmenter(IPv4View(ByteView(buffer->frame + 14, 1500)), 576);
    QList<QByteArray> pieces;
    while (fragmenter.next(*buffer))
        pieces.append(QByteArray(reinterpret_cast<const char *>(buffer->frame) + 14,
                                 int(buffer->length) - 14));
    QCOMPARE(pieces, expected);
}

QTEST_APPLESS_MAIN(TestFragmenter)
#include "tst_fragmenter.moc"
