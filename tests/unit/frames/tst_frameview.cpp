// SPDX-License-Identifier: GPL-3.0-or-later
// Frame views: field access on golden frames, and refusal of frames shorter than they claim.
#include "goldenframe.h"

#include "engine/arpview.h"
#include "engine/byteview.h"
#include "engine/checksum.h"
#include "engine/frameview.h"
#include "engine/icmpview.h"
#include "engine/ipv4view.h"
#include "engine/packetbuffer.h"
#include "engine/quotedheaderview.h"
#include "engine/tcpview.h"
#include "engine/udpview.h"

#include <QHostAddress>
#include <QTest>
#include <QtEndian>
#include <cstring>
#include <limits>
#include <memory>

namespace {

quint32 rawAddress(const QString &text)
{
    return qToBigEndian(QHostAddress(text).toIPv4Address());
}

quint16 rawPort(quint16 port) { return qToBigEndian(port); }

// Reads every field any view offers and runs every checksum routine; on a lying frame
// AddressSanitizer turns any read or write past the frame into a failure.
void touchEverything(FrameView frame)
{
    volatile quint32 sink = frame.etherType() + frame.destinationMac()[5] + frame.sourceMac()[0];
    ARPView arp = frame.arp();
    sink = sink + arp.senderAddress() + arp.targetAddress() + arp.senderMac()[0];
    IPv4View ip = frame.ipv4();
    sink = sink + ip.source() + ip.destination() + ip.flagsAndOffset() + ip.timeToLive();
    const TCPView tcp(ip);
    const UDPView udp(ip);
    const ICMPView icmp(ip);
    QuotedHeaderView quote(icmp);
    sink = sink + tcp.sourcePort() + tcp.flags() + udp.destinationPort() + udp.length()
        + icmp.identifier() + quote.source() + quote.udpSourcePort() + quote.icmpIdentifier();
    Checksum::verifyIPv4Header(ip);
    Checksum::verifyTCP(ip);
    Checksum::verifyUDP(ip);
    Checksum::verifyICMP(ip);
    Checksum::verifyQuotedHeader(quote);
    Checksum::fillTCP(ip);
    Checksum::fillUDP(ip);
    Checksum::fillICMP(ip);
    Checksum::fillQuotedHeader(quote);
    Checksum::fillIPv4Header(ip);
    (void)sink;
}

// The first layer a lying frame fails at.
enum Layer { FrameLayer, IPLayer, TransportLayer, QuoteLayer, NoLayer };

} // namespace

class FrameViewTest : public QObject
{
    Q_OBJECT

private slots:
    void byteViewStaysInside_data();
    void byteViewStaysInside();
    void ipv4Fields_data();
    void ipv4Fields();
    void transportFields();
    void quotedFields_data();
    void quotedFields();
    void arpFields();
    void otherEtherTypesNotParsed_data();
    void otherEtherTypesNotParsed();
    void rejectsLyingFrames_data();
    void rejectsLyingFrames();
    void lengthWordBoundsTheFrame();
    void settersWriteNetworkOrderInPlace();
    void totalLengthAndFragmentFields();
};

void FrameViewTest::byteViewStaysInside_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("inside");

    QTest::newRow("first byte") << 0 << 1 << true;
    QTest::newRow("whole window") << 0 << 8 << true;
    QTest::newRow("last 16-bit field") << 6 << 2 << true;
    QTest::newRow("16-bit field over the end") << 7 << 2 << false;
    QTest::newRow("32-bit field over the end") << 5 << 4 << false;
    QTest::newRow("MAC over the end") << 3 << 6 << false;
    QTest::newRow("just past the end") << 8 << 1 << false;
    QTest::newRow("far past the end") << 1000 << 2 << false;
    QTest::newRow("offset wraps around") << -1 << 2 << false;
}

// A window of 8 bytes inside a 16-byte block: reads outside give 0, writes outside are
// refused and leave the guard bytes around the window untouched.
void FrameViewTest::byteViewStaysInside()
{
    QFETCH(int, offset);
    QFETCH(int, width);
    QFETCH(bool, inside);
    // -1 stands for the largest offset, whose sum with any width wraps around.
    const std::size_t at = offset < 0 ? std::numeric_limits<std::size_t>::max()
                                      : std::size_t(offset);
    quint8 block[16];
    std::memset(block, 0xEE, sizeof block);
    ByteView view(block + 4, 8);

    QCOMPARE(view.contains(at, std::size_t(width)), inside);
    QCOMPARE(view.slice(at, std::size_t(width)).isNull(), !inside);
    const bool written = width == 1   ? view.setU8(at, 0x11)
        : width == 2                  ? view.setBe16(at, 0x1122)
        : width == 4                  ? view.setRaw32(at, 0x11223344)
        : width == 6                  ? view.setMac(at, Wire::MacAddress{1, 2, 3, 4, 5, 6})
                                      : view.slice(at, std::size_t(width)).size() != 0;
    QCOMPARE(written, inside);
    for (int i : {0, 1, 2, 3, 12, 13, 14, 15})
        QCOMPARE(block[i], quint8(0xEE));
    // Reads give back what was written inside, and 0 outside (never the 0xEE guard bytes).
    switch (width) {
    case 1: QCOMPARE(view.u8(at), quint8(inside ? 0x11 : 0)); break;
    case 2: QCOMPARE(view.be16(at), quint16(inside ? 0x1122 : 0)); break;
    case 4: QCOMPARE(view.raw32(at), quint32(inside ? 0x11223344 : 0)); break;
    case 6: {
        const Wire::MacAddress expected =
            inside ? Wire::MacAddress{1, 2, 3, 4, 5, 6} : Wire::MacAddress{};
        QCOMPARE(view.mac(at), expected);
        break;
    }
    }
}

void FrameViewTest::ipv4Fields_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("headerLength");
    QTest::addColumn<int>("totalLength");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("flagsAndOffset");

    QTest::newRow("options, IHL 6") << "udp-ip-options" << 24 << 46 << 17 << "192.168.51.10"
                                    << "198.51.100.7" << 0x4000;
    QTest::newRow("odd TCP") << "tcp-odd-length" << 20 << 51 << 6 << "203.0.113.5"
                             << "192.168.51.10" << 0x4000;
    QTest::newRow("padded frame") << "tcp-padded" << 20 << 40 << 6 << "192.168.51.10"
                                  << "203.0.113.5" << 0x4000;
    QTest::newRow("no DF") << "udp-no-checksum" << 20 << 33 << 17 << "192.168.51.10"
                           << "198.51.100.7" << 0;
    QTest::newRow("ICMP error") << "icmp-time-exceeded" << 20 << 60 << 1 << "203.0.113.1"
                                << "198.51.100.2" << 0;
}

void FrameViewTest::ipv4Fields()
{
    QFETCH(QString, file);
    QFETCH(int, headerLength);
    QFETCH(int, totalLength);
    QFETCH(int, protocol);
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(int, flagsAndOffset);
    ExactFrame bytes(goldenFrame(file));
    const FrameView frame(bytes.view());
    QVERIFY(frame.valid());
    QCOMPARE(frame.etherType(), Wire::kEtherTypeIPv4);
    QVERIFY(!frame.arp().valid());

    const IPv4View ip = frame.ipv4();
    QVERIFY(ip.valid());
    QCOMPARE(int(ip.headerLength()), headerLength);
    QCOMPARE(int(ip.totalLength()), totalLength);
    QCOMPARE(int(ip.protocol()), protocol);
    QCOMPARE(ip.source(), rawAddress(source));
    QCOMPARE(ip.destination(), rawAddress(destination));
    QCOMPARE(int(ip.flagsAndOffset()), flagsAndOffset);
    QVERIFY(!ip.isFragment());
    // The payload starts at the header length and ends at the total length, padding aside.
    QCOMPARE(ip.payload().data(), bytes.view().data() + 14 + headerLength);
    QCOMPARE(int(ip.payload().size()), totalLength - headerLength);
}

void FrameViewTest::transportFields()
{
    ExactFrame options(goldenFrame("udp-ip-options"));
    const UDPView udp(FrameView(options.view()).ipv4());
    QVERIFY(udp.valid());
    QCOMPARE(udp.datagram().data(), options.view().data() + 14 + 24);
    QCOMPARE(udp.sourcePort(), rawPort(40000));
    QCOMPARE(udp.destinationPort(), rawPort(53));
    QCOMPARE(int(udp.length()), 22);
    QVERIFY(!TCPView(FrameView(options.view()).ipv4()).valid());
    QVERIFY(!ICMPView(FrameView(options.view()).ipv4()).valid());

    ExactFrame odd(goldenFrame("tcp-odd-length"));
    const TCPView tcp(FrameView(odd.view()).ipv4());
    QVERIFY(tcp.valid());
    QCOMPARE(tcp.sourcePort(), rawPort(443));
    QCOMPARE(tcp.destinationPort(), rawPort(51000));
    QCOMPARE(int(tcp.headerLength()), 24);
    QCOMPARE(int(tcp.segment().size()), 31);
    QCOMPARE(tcp.flags(), quint8(Wire::kTCPAck | 0x08));

    ExactFrame echo(goldenFrame("icmp-echo-request"));
    const ICMPView icmp(FrameView(echo.view()).ipv4());
    QVERIFY(icmp.valid());
    QVERIFY(icmp.isEcho());
    QVERIFY(!icmp.isError());
    QCOMPARE(icmp.type(), Wire::kICMPEchoRequest);
    QCOMPARE(icmp.identifier(), rawPort(0x1234));
    QCOMPARE(int(icmp.message().size()), 25);
    QVERIFY(!QuotedHeaderView(icmp).valid());
}

void FrameViewTest::quotedFields_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("quotedHeaderLength");
    QTest::addColumn<int>("quotedProtocol");
    QTest::addColumn<int>("quotedTransportSize");

    QTest::newRow("time exceeded, quoted IHL 6, echo")
        << "icmp-time-exceeded" << 11 << 24 << 1 << 8;
    QTest::newRow("port unreachable, UDP") << "icmp-port-unreachable" << 3 << 20 << 17 << 20;
}

void FrameViewTest::quotedFields()
{
    QFETCH(QString, file);
    QFETCH(int, type);
    QFETCH(int, quotedHeaderLength);
    QFETCH(int, quotedProtocol);
    QFETCH(int, quotedTransportSize);
    ExactFrame bytes(goldenFrame(file));
    const ICMPView icmp(FrameView(bytes.view()).ipv4());
    QVERIFY(icmp.isError());
    QCOMPARE(int(icmp.type()), type);
    const QuotedHeaderView quote(icmp);
    QVERIFY(quote.valid());
    QCOMPARE(int(quote.headerLength()), quotedHeaderLength);
    QCOMPARE(int(quote.protocol()), quotedProtocol);
    QCOMPARE(quote.source(), rawAddress("198.51.100.2"));
    QCOMPARE(quote.destination(), rawAddress("203.0.113.9"));
    QCOMPARE(int(quote.transport().size()), quotedTransportSize);
    // The quoted transport header starts at message offset 8 + quoted header length.
    QCOMPARE(quote.transport().data(), icmp.message().data() + 8 + quotedHeaderLength);
    if (quotedProtocol == Wire::kProtocolUDP) {
        QCOMPARE(quote.udpSourcePort(), rawPort(10000));
        QCOMPARE(quote.udpDestinationPort(), rawPort(33434));
    } else {
        QCOMPARE(quote.icmpIdentifier(), rawPort(0xbeef));
    }
}

void FrameViewTest::arpFields()
{
    ExactFrame bytes(goldenFrame("arp-request"));
    const FrameView frame(bytes.view());
    QVERIFY(frame.isGroupDestination());
    QVERIFY(!frame.ipv4().valid());
    ARPView arp = frame.arp();
    QVERIFY(arp.valid());
    QCOMPARE(int(arp.operation()), 1);
    QCOMPARE(arp.senderMac(), (Wire::MacAddress{0x02, 0, 0, 0, 0, 0x0a}));
    QCOMPARE(arp.senderAddress(), rawAddress("192.168.51.10"));
    QCOMPARE(arp.targetAddress(), rawAddress("192.168.51.1"));

    const Wire::MacAddress bridged{0x02, 0, 0, 0, 0, 0x01};
    QVERIFY(arp.setSenderMac(bridged));
    QVERIFY(arp.setTargetMac(bridged));
    const QByteArray edited = bytes.toByteArray();
    QCOMPARE(edited.mid(14 + 8, 6), QByteArray::fromHex("020000000001"));
    QCOMPARE(edited.mid(14 + 18, 6), QByteArray::fromHex("020000000001"));
    // Only the MACs changed.
    QCOMPARE(edited.mid(14 + 14, 4), goldenFrame("arp-request").mid(14 + 14, 4));
}

void FrameViewTest::otherEtherTypesNotParsed_data()
{
    QTest::addColumn<QByteArray>("etherType");
    QTest::newRow("IPv6") << QByteArray::fromHex("86dd");
    QTest::newRow("VLAN tag") << QByteArray::fromHex("8100");
    QTest::newRow("other") << QByteArray::fromHex("88cc");
}

// An IPv4 packet behind a foreign EtherType is never taken for IPv4.
void FrameViewTest::otherEtherTypesNotParsed()
{
    QFETCH(QByteArray, etherType);
    QByteArray golden = goldenFrame("tcp-padded");
    golden.replace(12, 2, etherType);
    ExactFrame bytes(golden);
    const FrameView frame(bytes.view());
    QVERIFY(frame.valid());
    QVERIFY(!frame.ipv4().valid());
    QVERIFY(!frame.arp().valid());
}

void FrameViewTest::rejectsLyingFrames_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("patchAt");       // frame offset, -1: no patch
    QTest::addColumn<QByteArray>("patch");
    QTest::addColumn<int>("truncateTo");    // frame length, -1: as it is
    QTest::addColumn<int>("failsAt");       // Layer

    const auto hex = [](const char *text) { return QByteArray::fromHex(text); };
    QTest::newRow("empty frame") << "tcp-padded" << -1 << QByteArray() << 0 << int(FrameLayer);
    QTest::newRow("Ethernet header of 13 bytes")
        << "tcp-padded" << -1 << QByteArray() << 13 << int(FrameLayer);
    QTest::newRow("Ethernet header only") << "tcp-padded" << -1 << QByteArray() << 14
                                          << int(IPLayer);
    QTest::newRow("IP header cut at 19 bytes")
        << "tcp-padded" << -1 << QByteArray() << 14 + 19 << int(IPLayer);
    QTest::newRow("IHL 4") << "tcp-padded" << 14 << hex("44") << -1 << int(IPLayer);
    QTest::newRow("IHL 0") << "tcp-padded" << 14 << hex("40") << -1 << int(IPLayer);
    QTest::newRow("version 6 under IPv4 type") << "tcp-padded" << 14 << hex("65") << -1
                                               << int(IPLayer);
    QTest::newRow("IHL 15 beyond frame") << "tcp-padded" << 14 << hex("4f") << -1
                                         << int(IPLayer);
    QTest::newRow("total length beyond frame")
        << "tcp-padded" << 16 << hex("05dc") << -1 << int(IPLayer);
    QTest::newRow("total length one past frame")
        << "tcp-odd-length" << 16 << hex("0034") << -1 << int(IPLayer);
    QTest::newRow("total length below header length")
        << "udp-ip-options" << 16 << hex("0017") << -1 << int(IPLayer);
    QTest::newRow("TCP header beyond payload")
        << "tcp-odd-length" << 16 << hex("001e") << 14 + 30 << int(TransportLayer);
    QTest::newRow("TCP data offset beyond segment")
        << "tcp-odd-length" << 14 + 20 + 12 << hex("f0") << -1 << int(TransportLayer);
    QTest::newRow("TCP data offset below 5")
        << "tcp-odd-length" << 14 + 20 + 12 << hex("40") << -1 << int(TransportLayer);
    QTest::newRow("UDP header beyond payload")
        << "udp-no-checksum" << 16 << hex("001b") << 14 + 27 << int(TransportLayer);
    QTest::newRow("UDP header beyond options")
        << "udp-ip-options" << 16 << hex("001f") << 14 + 31 << int(TransportLayer);
    QTest::newRow("ICMP header beyond payload")
        << "icmp-echo-request" << 16 << hex("001b") << 14 + 27 << int(TransportLayer);
    QTest::newRow("later fragment has no transport header")
        << "tcp-odd-length" << 20 << hex("0010") << -1 << int(TransportLayer);
    QTest::newRow("quote missing its last transport byte")
        << "icmp-time-exceeded" << 16 << hex("003b") << 14 + 59 << int(QuoteLayer);
    QTest::newRow("quote cut inside the quoted header")
        << "icmp-port-unreachable" << 16 << hex("0027") << 14 + 39 << int(QuoteLayer);
    QTest::newRow("quoted IHL 15 beyond message")
        << "icmp-port-unreachable" << 14 + 20 + 8 << hex("4f") << -1 << int(QuoteLayer);
    QTest::newRow("quoted IHL 4") << "icmp-port-unreachable" << 14 + 20 + 8 << hex("44") << -1
                                  << int(QuoteLayer);
    QTest::newRow("sound time exceeded") << "icmp-time-exceeded" << -1 << QByteArray() << -1
                                         << int(NoLayer);
    QTest::newRow("sound port unreachable at 8 quoted bytes")
        << "icmp-port-unreachable" << 16 << hex("0038") << 14 + 56 << int(NoLayer);
}

// Each lying frame fails at the layer that lies, the layers above it stay readable, and
// nothing reads or writes past the frame's last byte.
void FrameViewTest::rejectsLyingFrames()
{
    QFETCH(QString, file);
    QFETCH(int, patchAt);
    QFETCH(QByteArray, patch);
    QFETCH(int, truncateTo);
    QFETCH(int, failsAt);
    QByteArray golden = goldenFrame(file);
    QVERIFY(!golden.isEmpty());
    if (patchAt >= 0)
        golden.replace(patchAt, patch.size(), patch);
    if (truncateTo >= 0)
        golden.truncate(truncateTo);
    ExactFrame bytes(golden);
    const FrameView frame(bytes.view());
    IPv4View ip = frame.ipv4();
    const bool transport = TCPView(ip).valid() || UDPView(ip).valid() || ICMPView(ip).valid();
    const QuotedHeaderView quote{ICMPView(ip)};

    QCOMPARE(frame.valid(), failsAt > FrameLayer);
    QCOMPARE(ip.valid(), failsAt > IPLayer);
    QCOMPARE(transport, failsAt > TransportLayer);
    if (file.startsWith(QLatin1String("icmp-time")) || file.startsWith(QLatin1String("icmp-port")))
        QCOMPARE(quote.valid(), failsAt > QuoteLayer);
    if (failsAt <= IPLayer) {
        QVERIFY(!Checksum::computeIPv4Header(ip));
        QVERIFY(!Checksum::fillIPv4Header(ip));
    }
    if (failsAt <= TransportLayer) {
        QVERIFY(!Checksum::computeTCP(ip) && !Checksum::computeUDP(ip)
                && !Checksum::computeICMP(ip));
        QVERIFY(!Checksum::verifyTCP(ip) && !Checksum::verifyUDP(ip) && !Checksum::verifyICMP(ip));
    }
    if (failsAt <= QuoteLayer) {
        QVERIFY(!Checksum::computeQuotedHeader(quote));
        QVERIFY(!Checksum::verifyQuotedHeader(quote));
    }
    touchEverything(frame);
}

// The record's length word, not the 1514-byte buffer, bounds the frame; a length word above
// the buffer is refused, one below the IP total length cuts the packet off.
void FrameViewTest::lengthWordBoundsTheFrame()
{
    const QByteArray golden = goldenFrame("tcp-odd-length");
    auto buffer = std::make_unique<PacketBuffer>();
    std::memset(buffer.get(), 0, sizeof(PacketBuffer));
    std::memcpy(buffer->frame, golden.constData(), std::size_t(golden.size()));

    buffer->length = quint32(golden.size());
    QVERIFY(TCPView(FrameView(*buffer).ipv4()).valid());
    QCOMPARE(FrameView(*buffer).length(), std::size_t(golden.size()));

    buffer->length = quint32(golden.size() - 1);
    QVERIFY(FrameView(*buffer).valid());
    QVERIFY(!FrameView(*buffer).ipv4().valid());

    buffer->length = kMaxFrameSize;
    QVERIFY(FrameView(*buffer).ipv4().valid());
    buffer->length = kMaxFrameSize + 1;
    QVERIFY(!FrameView(*buffer).valid());
    buffer->length = 0xFFFFFFFFu;
    QVERIFY(!FrameView(*buffer).valid());
    touchEverything(FrameView(*buffer));
}

// Addresses and ports are taken and written as network-order values, MACs as six bytes,
// each at its own offset and nowhere else.
void FrameViewTest::settersWriteNetworkOrderInPlace()
{
    ExactFrame bytes(goldenFrame("tcp-odd-length"));
    FrameView frame(bytes.view());
    IPv4View ip = frame.ipv4();
    TCPView tcp(ip);
    QVERIFY(tcp.valid());
    QVERIFY(frame.setDestinationMac(Wire::MacAddress{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
    QVERIFY(frame.setSourceMac(Wire::MacAddress{0x02, 0x66, 0x77, 0x88, 0x99, 0xaa}));
    QVERIFY(ip.setDestination(rawAddress("192.168.51.77")));
    QVERIFY(ip.setTimeToLive(ip.timeToLive() - 1));
    QVERIFY(tcp.setDestinationPort(rawPort(60001)));
    QVERIFY(Checksum::fillTCP(ip));
    QVERIFY(Checksum::fillIPv4Header(ip));

    QByteArray expected = goldenFrame("tcp-odd-length");
    expected.replace(0, 12, QByteArray::fromHex("0211223344550266778899aa"));
    expected.replace(14 + 16, 4, QByteArray::fromHex("c0a8334d"));
    expected[14 + 8] = char(63);
    expected.replace(14 + 20 + 2, 2, QByteArray::fromHex("ea61"));
    const QByteArray edited = bytes.toByteArray();
    // Everything outside the two checksum fields is exactly the expected edit.
    QCOMPARE(edited.left(24), expected.left(24));
    QCOMPARE(edited.mid(26, 24), expected.mid(26, 24));
    QCOMPARE(edited.mid(52), expected.mid(52));
    QVERIFY(Checksum::verifyIPv4Header(ip));
    QVERIFY(Checksum::verifyTCP(ip));
}

void FrameViewTest::totalLengthAndFragmentFields()
{
    ExactFrame bytes(goldenFrame("tcp-padded"));
    IPv4View ip = FrameView(bytes.view()).ipv4();
    QCOMPARE(int(ip.capacity()), 46);
    QVERIFY(!ip.setTotalLength(19));
    QVERIFY(!ip.setTotalLength(47));
    QCOMPARE(int(ip.totalLength()), 40);
    QVERIFY(ip.setTotalLength(46));
    QCOMPARE(int(ip.payload().size()), 26);
    QCOMPARE(bytes.toByteArray().mid(16, 2), QByteArray::fromHex("002e"));

    QVERIFY(ip.setFlagsAndOffset(Wire::kIPv4MoreFragments | 172));
    QVERIFY(ip.isFragment() && ip.moreFragments() && !ip.dontFragment());
    QCOMPARE(int(ip.fragmentOffset()), 172);
    QCOMPARE(bytes.toByteArray().mid(20, 2), QByteArray::fromHex("20ac"));
    QVERIFY(!TCPView(ip).valid());
    QVERIFY(ip.setFlagsAndOffset(Wire::kIPv4DontFragment));
    QVERIFY(!ip.isFragment() && ip.dontFragment());
    QVERIFY(ip.setFlagsAndOffset(0));
    QVERIFY(!ip.isFragment());
    QVERIFY(ip.setFlagsAndOffset(Wire::kIPv4DontFragment | 1));
    QVERIFY(ip.isFragment());
}

QTEST_APPLESS_MAIN(FrameViewTest)
#include "tst_frameview.moc"
