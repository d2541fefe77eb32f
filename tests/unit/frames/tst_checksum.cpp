// SPDX-License-Identifier: GPL-3.0-or-later
// Internet checksums: RFC 1071 sums, golden frames, UDP's zero rules, fill-then-verify.
#include "goldenframe.h"

#include "engine/byteview.h"
#include "engine/checksum.h"
#include "engine/frameview.h"
#include "engine/icmpview.h"
#include "engine/ipv4view.h"
#include "engine/quotedheaderview.h"
#include "engine/tcpview.h"
#include "engine/udpview.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>
#include <vector>

namespace {

// Word-by-word reference of RFC 1071 section 1, kept deliberately naive.
quint16 referenceChecksum(const quint8 *data, std::size_t size)
{
    quint32 sum = 0;
    for (std::size_t i = 0; i < size; i += 2) {
        sum += quint32(data[i]) << 8;
        if (i + 1 < size)
            sum += data[i + 1];
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return quint16(~sum);
}

quint32 rawAddress(const QString &text) { return qToBigEndian(QHostAddress(text).toIPv4Address()); }

bool isICMPError(const IPv4View &ip) { return ICMPView(ip).isError(); }

// Every checksum the packet carries verifies.
bool verifyAll(IPv4View ip)
{
    bool ok = Checksum::verifyIPv4Header(ip);
    switch (ip.protocol()) {
    case Wire::kProtocolTCP: ok = ok && Checksum::verifyTCP(ip); break;
    case Wire::kProtocolUDP: ok = ok && Checksum::verifyUDP(ip); break;
    case Wire::kProtocolICMP:
        ok = ok && Checksum::verifyICMP(ip);
        if (isICMPError(ip))
            ok = ok && Checksum::verifyQuotedHeader(QuotedHeaderView(ICMPView(ip)));
        break;
    }
    return ok;
}

// Fills in the order the engine uses: quoted header, transport, IP header last.
bool fillAll(IPv4View ip)
{
    bool ok = true;
    switch (ip.protocol()) {
    case Wire::kProtocolTCP: ok = Checksum::fillTCP(ip); break;
    case Wire::kProtocolUDP: ok = Checksum::fillUDP(ip); break;
    case Wire::kProtocolICMP:
        if (isICMPError(ip)) {
            QuotedHeaderView quote{ICMPView(ip)};
            ok = Checksum::fillQuotedHeader(quote);
        }
        ok = ok && Checksum::fillICMP(ip);
        break;
    }
    return ok && Checksum::fillIPv4Header(ip);
}

} // namespace

class ChecksumTest : public QObject
{
    Q_OBJECT

private slots:
    void rfc1071_data();
    void rfc1071();
    void agreesWithWordByWordSum();
    void goldenFrames_data();
    void goldenFrames();
    void detectsCorruption_data();
    void detectsCorruption();
    void udpWithoutChecksumKeepsZero();
    void udpSumZeroIsSentAsFFFF();
    void oddTrailingByteIsHighHalf();
    void fillAfterTranslation_data();
    void fillAfterTranslation();
};

void ChecksumTest::rfc1071_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("checksum");

    QTest::newRow("RFC 1071 example") << QByteArray::fromHex("0001f203f4f5f6f7") << 0x220d;
    QTest::newRow("nothing") << QByteArray() << 0xffff;
    QTest::newRow("single byte is the high half") << QByteArray::fromHex("01") << 0xfeff;
    QTest::newRow("odd tail") << QByteArray::fromHex("000102") << 0xfdfe;
    QTest::newRow("carry folds back") << QByteArray::fromHex("ffff0001") << 0xfffe;
    QTest::newRow("sum 0xffff gives 0") << QByteArray::fromHex("ffffffff") << 0x0000;
    QTest::newRow("carries from the odd tail") << QByteArray::fromHex("80008000800080") << 0xfffd;
    QTest::newRow("65 bytes of ones") << QByteArray(65, char(0xff)) << 0x00ff;
}

void ChecksumTest::rfc1071()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, checksum);
    ExactFrame exact(bytes);
    QCOMPARE(int(Checksum::compute(exact.view())), checksum);
}

// The 8-, 4-, 2- and 1-byte paths and unaligned starts against the naive sum.
void ChecksumTest::agreesWithWordByWordSum()
{
    QRandomGenerator random(0x7a3c);
    std::vector<quint8> block(1600);
    for (quint8 &byte : block)
        byte = quint8(random.bounded(256));
    for (int i = 0; i < 64; ++i)
        block[std::size_t(random.bounded(1600))] = 0xFF; // runs of carries
    for (std::size_t start = 0; start < 8; ++start) {
        for (std::size_t size = 0; size <= 80; ++size) {
            const quint16 fast = Checksum::compute(ByteView(block.data() + start, size));
            QCOMPARE(fast, referenceChecksum(block.data() + start, size));
        }
        for (std::size_t size : {1479u, 1480u, 1500u, 1514u, 1592u}) {
            const quint16 fast = Checksum::compute(ByteView(block.data() + start, size));
            QCOMPARE(fast, referenceChecksum(block.data() + start, size));
        }
    }
}

void ChecksumTest::goldenFrames_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("IPv4 options, UDP at 24") << "udp-ip-options";
    QTest::newRow("odd-length TCP segment") << "tcp-odd-length";
    QTest::newRow("TCP in a padded frame") << "tcp-padded";
    QTest::newRow("UDP without checksum") << "udp-no-checksum";
    QTest::newRow("UDP summing to zero") << "udp-sum-zero";
    QTest::newRow("ICMP echo request") << "icmp-echo-request";
    QTest::newRow("ICMP time exceeded, quoted IHL 6") << "icmp-time-exceeded";
    QTest::newRow("ICMP port unreachable, quoted UDP") << "icmp-port-unreachable";
}

// Golden frames (checksums computed independently) verify; with every checksum field
// scribbled over they no longer do, and filling gives back the golden bytes exactly.
void ChecksumTest::goldenFrames()
{
    QFETCH(QString, file);
    const QByteArray golden = goldenFrame(file);
    ExactFrame bytes(golden);
    IPv4View ip = FrameView(bytes.view()).ipv4();
    QVERIFY(ip.valid());
    QVERIFY(verifyAll(ip));

    ip.setHeaderChecksum(ip.headerChecksum() ^ 0x5a5a);
    QVERIFY(!Checksum::verifyIPv4Header(ip));
    if (TCPView tcp(ip); tcp.valid()) {
        tcp.setChecksum(0xdead);
        QVERIFY(!Checksum::verifyTCP(ip));
    }
    if (UDPView udp(ip); udp.valid() && udp.checksum() != 0) {
        udp.setChecksum(0xdead);
        QVERIFY(!Checksum::verifyUDP(ip));
    }
    if (ICMPView icmp(ip); icmp.valid()) {
        icmp.setChecksum(0xdead);
        QVERIFY(!Checksum::verifyICMP(ip));
        if (QuotedHeaderView quote(icmp); quote.valid()) {
            quote.setHeaderChecksum(0xdead);
            QVERIFY(!Checksum::verifyQuotedHeader(quote));
        }
    }
    QVERIFY(fillAll(ip));
    QCOMPARE(bytes.toByteArray().toHex(), golden.toHex());
    QVERIFY(verifyAll(ip));
}

void ChecksumTest::detectsCorruption_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("offset"); // frame byte whose low bit is flipped
    QTest::addColumn<bool>("headerOk");
    QTest::addColumn<bool>("transportOk");
    QTest::addColumn<bool>("quoteOk");

    QTest::newRow("IP option byte: header only") << "udp-ip-options" << 14 + 21 << false << true
                                                 << true;
    QTest::newRow("first UDP byte behind options")
        << "udp-ip-options" << 14 + 24 << true << false << true;
    QTest::newRow("last UDP byte") << "udp-ip-options" << 59 << true << false << true;
    QTest::newRow("source address: header and pseudo-header")
        << "tcp-odd-length" << 14 + 12 << false << false << true;
    QTest::newRow("type of service: header only")
        << "tcp-odd-length" << 14 + 1 << false << true << true;
    QTest::newRow("trailing odd TCP byte") << "tcp-odd-length" << 64 << true << false << true;
    QTest::newRow("Ethernet padding is outside every sum")
        << "tcp-padded" << 59 << true << true << true;
    QTest::newRow("quoted header byte") << "icmp-time-exceeded" << 14 + 28 + 22 << true << false
                                        << false;
    QTest::newRow("quoted transport byte") << "icmp-port-unreachable" << 14 + 48 + 1 << true
                                           << false << true;
    QTest::newRow("echo payload") << "icmp-echo-request" << 58 << true << false << true;
}

void ChecksumTest::detectsCorruption()
{
    QFETCH(QString, file);
    QFETCH(int, offset);
    QFETCH(bool, headerOk);
    QFETCH(bool, transportOk);
    QFETCH(bool, quoteOk);
    QByteArray frame = goldenFrame(file);
    QVERIFY(offset < frame.size());
    frame[offset] = char(frame[offset] ^ 0x01);
    ExactFrame bytes(frame);
    const IPv4View ip = FrameView(bytes.view()).ipv4();
    QVERIFY(ip.valid());
    QCOMPARE(Checksum::verifyIPv4Header(ip), headerOk);
    const bool transport = ip.protocol() == Wire::kProtocolTCP ? Checksum::verifyTCP(ip)
        : ip.protocol() == Wire::kProtocolUDP                  ? Checksum::verifyUDP(ip)
                                                               : Checksum::verifyICMP(ip);
    QCOMPARE(transport, transportOk);
    if (isICMPError(ip))
        QCOMPARE(Checksum::verifyQuotedHeader(QuotedHeaderView(ICMPView(ip))), quoteOk);
}

// A stored 0 means "none computed": never checked, never filled, whatever changes.
void ChecksumTest::udpWithoutChecksumKeepsZero()
{
    ExactFrame bytes(goldenFrame("udp-no-checksum"));
    IPv4View ip = FrameView(bytes.view()).ipv4();
    UDPView udp(ip);
    QCOMPARE(udp.checksum(), quint16(0));
    QVERIFY(Checksum::verifyUDP(ip));
    udp.setSourcePort(qToBigEndian<quint16>(10007));
    QVERIFY(ip.setSource(rawAddress("198.51.100.2")));
    QVERIFY(Checksum::verifyUDP(ip));
    QVERIFY(Checksum::fillUDP(ip));
    QCOMPARE(udp.checksum(), quint16(0));
    // What it would carry if it had one is still computable, and never 0.
    const std::optional<quint16> would = Checksum::computeUDP(ip);
    QVERIFY(would && *would != 0);
}

// A datagram whose sum is 0 carries 0xFFFF (0 would read as "none"), and verifies with it.
void ChecksumTest::udpSumZeroIsSentAsFFFF()
{
    ExactFrame bytes(goldenFrame("udp-sum-zero"));
    IPv4View ip = FrameView(bytes.view()).ipv4();
    UDPView udp(ip);
    QCOMPARE(udp.checksum(), Wire::kUDPZeroChecksum);
    QVERIFY(Checksum::verifyUDP(ip));
    QCOMPARE(Checksum::computeUDP(ip), std::optional<quint16>(0xFFFF));
    udp.setChecksum(0x1234);
    QVERIFY(!Checksum::verifyUDP(ip));
    QVERIFY(Checksum::fillUDP(ip));
    QCOMPARE(udp.checksum(), quint16(0xFFFF));
    QCOMPARE(bytes.toByteArray(), goldenFrame("udp-sum-zero"));
}

// Raising the last byte of an odd segment by one raises its word by 0x0100, so the
// checksum drops by 0x0100 in one's complement (a low-half reading would drop it by 1).
void ChecksumTest::oddTrailingByteIsHighHalf()
{
    ExactFrame bytes(goldenFrame("tcp-odd-length"));
    IPv4View ip = FrameView(bytes.view()).ipv4();
    TCPView tcp(ip);
    QCOMPARE(tcp.segment().size() % 2, std::size_t(1));
    const quint16 before = tcp.checksum();
    ByteView segment = tcp.segment();
    const std::size_t last = segment.size() - 1;
    QVERIFY(segment.u8(last) < 0xFF);
    segment.setU8(last, segment.u8(last) + 1);

    quint32 sum = quint32(quint16(~before)) + 0x0100;
    sum = (sum & 0xFFFF) + (sum >> 16);
    QCOMPARE(Checksum::computeTCP(ip), std::optional<quint16>(quint16(~sum)));
}

void ChecksumTest::fillAfterTranslation_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("TCP, options in TCP") << "tcp-odd-length";
    QTest::newRow("UDP behind IP options") << "udp-ip-options";
    QTest::newRow("UDP summing to zero") << "udp-sum-zero";
    QTest::newRow("ICMP echo") << "icmp-echo-request";
    QTest::newRow("ICMP error quoting echo") << "icmp-time-exceeded";
    QTest::newRow("ICMP error quoting UDP") << "icmp-port-unreachable";
}

// The edits of address translation, then fill: every checksum verifies again, and the
// values differ from the originals wherever the covered bytes changed.
void ChecksumTest::fillAfterTranslation()
{
    QFETCH(QString, file);
    ExactFrame bytes(goldenFrame(file));
    IPv4View ip = FrameView(bytes.view()).ipv4();
    const quint16 headerBefore = ip.headerChecksum();
    QVERIFY(ip.setSource(rawAddress("198.51.100.2")));
    QVERIFY(ip.setTimeToLive(ip.timeToLive() - 1));
    if (TCPView tcp(ip); tcp.valid())
        QVERIFY(tcp.setSourcePort(qToBigEndian<quint16>(10001)));
    if (UDPView udp(ip); udp.valid())
        QVERIFY(udp.setSourcePort(qToBigEndian<quint16>(10002)));
    ICMPView icmp(ip);
    if (icmp.isEcho())
        QVERIFY(icmp.setIdentifier(qToBigEndian<quint16>(10003)));
    if (QuotedHeaderView quote(icmp); quote.valid()) {
        QVERIFY(quote.setSource(rawAddress("192.168.51.10")));
        if (quote.protocol() == Wire::kProtocolUDP) {
            QVERIFY(quote.setUdpSourcePort(qToBigEndian<quint16>(40000)));
            QVERIFY(quote.setUdpChecksum(0));
        } else {
            QVERIFY(quote.setIcmpChecksum(0));
            QVERIFY(quote.setIcmpIdentifier(qToBigEndian<quint16>(0x1234)));
        }
    }
    QVERIFY(!verifyAll(ip));
    QVERIFY(fillAll(ip));
    QVERIFY(verifyAll(ip));
    QVERIFY(ip.headerChecksum() != headerBefore);
}

QTEST_APPLESS_MAIN(ChecksumTest)
#include "tst_checksum.moc"
