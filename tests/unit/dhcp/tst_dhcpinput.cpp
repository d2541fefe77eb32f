// SPDX-License-Identifier: GPL-3.0-or-later
// DHCP input the server must survive or read right: option areas, malformed datagrams,
// random input, and datagrams of real clients captured in the lab.
#include "dhcpmessages.h"
#include "engine/dhcpresponder.h"

#include <QRandomGenerator>
#include <QtTest>

class TestDhcpInput : public QObject
{
    Q_OBJECT
private slots:
    void optionAreas_data();
    void optionAreas();
    void badInputIgnored_data();
    void badInputIgnored();
    void randomInputKeepsTableConsistent();
    void capturedConversation();
};

void TestDhcpInput::optionAreas_data()
{
    // Raw option bytes after the fixed part; the message has no other options.
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<int>("replyType");
    QTest::addColumn<QByteArray>("hostName"); // of the REQUEST that follows an offer
    QTest::newRow("code 0 triple before the type") << QByteArray::fromHex("0002 7879 3501 01ff") << 2 << QByteArray();
    QTest::newRow("code 0 of length 0") << QByteArray::fromHex("00003501 01ff") << 2 << QByteArray();
    QTest::newRow("host name running past the end is dropped")
        << QByteArray::fromHex("350101 0c20 7068") << 2 << QByteArray();
    QTest::newRow("message type running past the end") << QByteArray::fromHex("3504 01") << 0 << QByteArray();
    QTest::newRow("length byte of the type missing") << QByteArray::fromHex("35") << 0 << QByteArray();
    QTest::newRow("empty message type") << QByteArray::fromHex("3500 ff") << 0 << QByteArray();
    QTest::newRow("host name, no end option") << QByteArray::fromHex("350101 0c06 70686f6e6532") << 2
                                              << QByteArray("phone2");
}

void TestDhcpInput::optionAreas()
{
    QFETCH(QByteArray, options);
    QFETCH(int, replyType);
    QFETCH(QByteArray, hostName);
    DHCPResponder responder;
    configure(responder);
    ClientMessage discover = message(Dhcp::kDiscover, 1);
    const QByteArray datagram = discover.bytes().left(int(Dhcp::kFixedSize)) + options;
    const ServerReply reply = ServerReply::of(responder.handle(datagram, 100).reply);
    QCOMPARE(int(reply.type), replyType);
    if (replyType == 0) {
        QVERIFY(responder.leases().isEmpty());
        return;
    }
    // The same option area on a SELECTING request: the host name reaches the user table.
    QByteArray request = options;
    request[request.indexOf(QByteArray::fromHex("350101"), 0) + 2] = char(Dhcp::kRequest);
    request.prepend(QByteArray::fromHex("3204c0a8330a 3604c0a83301"));
    const DHCPResponder::Outcome ack = responder.handle(discover.bytes().left(int(Dhcp::kFixedSize)) + request, 101);
    QCOMPARE(ServerReply::of(ack.reply).type, Dhcp::kAck);
    QCOMPARE(ack.userChanges.size(), 1);
    QCOMPARE(ack.userChanges.first().hostName, hostName);
}

void TestDhcpInput::badInputIgnored_data()
{
    QTest::addColumn<QByteArray>("datagram");
    const QByteArray discover = message(Dhcp::kDiscover, 1).bytes();
    ClientMessage select = message(Dhcp::kRequest, 1);
    select.requested = ip("192.168.51.10");
    const auto withByte = [](QByteArray bytes, std::size_t offset, quint8 value) {
        bytes[int(offset)] = char(value);
        return bytes;
    };
    const auto withOptions = [&](const char *hex) {
        return discover.left(int(Dhcp::kFixedSize)) + QByteArray::fromHex(hex);
    };

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("shorter than the fixed part") << discover.left(int(Dhcp::kFixedSize) - 1);
    QTest::newRow("fixed part without options") << discover.left(int(Dhcp::kFixedSize));
    QTest::newRow("no magic cookie") << withByte(withByte(discover, Dhcp::kMagicCookie, 0), Dhcp::kMagicCookie + 3, 0);
    QTest::newRow("BOOTP reply, not a request") << withByte(discover, Dhcp::kOp, Dhcp::kOpReply);
    QTest::newRow("hardware address length 17") << withByte(discover, Dhcp::kHardwareLength, 17);
    QTest::newRow("hardware address length 255") << withByte(discover, Dhcp::kHardwareLength, 255);
    QTest::newRow("hardware address length 0") << withByte(discover, Dhcp::kHardwareLength, 0);
    QTest::newRow("option 50 of three bytes") << withOptions("350101 3203c0a833 ff");
    QTest::newRow("option 50 of one byte") << withOptions("350101 32010a ff");
    QTest::newRow("option 50 empty") << withOptions("350101 3200 ff");
    QTest::newRow("option 50 of five bytes") << withOptions("350101 3205c0a8330a00 ff");
    // Without the check a REQUEST with a bad identifier would be read as INIT-REBOOT.
    QTest::newRow("option 54 of two bytes") << withOptions("350103 3204c0a8330a 3602c0a8 ff");
    QTest::newRow("option 54 of three bytes in a release") << withOptions("350107 3603c0a833 ff");
    QTest::newRow("unknown message type") << withOptions("350109 ff");
    QTest::newRow("an offer sent to the server") << withOptions("350102 ff");
    QTest::newRow("from the ignored MAC") << [&] {
        ClientMessage own;
        own.mac = kIgnoredMac;
        return own.bytes();
    }();
}

void TestDhcpInput::badInputIgnored()
{
    QFETCH(QByteArray, datagram);
    DHCPResponder responder;
    configure(responder);
    const DHCPResponder::Outcome outcome = responder.handle(datagram, 100);
    QVERIFY(outcome.reply.isEmpty());
    QVERIFY(outcome.userChanges.isEmpty());
    QVERIFY(responder.leases().isEmpty());
    // The server still works afterwards.
    QCOMPARE(ServerReply::of(responder.handle(message(Dhcp::kDiscover, 2).bytes(), 101).reply).type,
             Dhcp::kOffer);
}

// Random option areas and fields behind a valid header: never a crash (the sanitizer
// build watches the reads), and the two maps of the table always agree.
void TestDhcpInput::randomInputKeepsTableConsistent()
{
    QRandomGenerator random(4711);
    DHCPResponder responder;
    configure(responder, "192.168.51.10", "192.168.51.14");
    QSet<quint8> seen;
    for (int round = 0; round < 20000; ++round) {
        ClientMessage m = message(quint8(1 + random.bounded(8)), 1 + random.bounded(8));
        if (random.bounded(2))
            m.requested = ip("192.168.51.8") + random.bounded(8);
        if (random.bounded(2))
            m.serverId = ip("192.168.51.1") + random.bounded(2);
        if (random.bounded(3) == 0)
            m.ciaddr = ip("192.168.51.8") + random.bounded(8);
        QByteArray noise(random.bounded(40), '\0');
        for (char &c : noise)
            c = char(random.bounded(256));
        m.extraOptions = noise;
        m.endOption = random.bounded(2);
        QByteArray datagram = m.bytes();
        if (random.bounded(10) == 0)
            datagram[int(Dhcp::kHardwareLength)] = char(random.bounded(256));
        if (random.bounded(10) == 0)
            datagram.truncate(random.bounded(datagram.size() + 1));
        const DHCPResponder::Outcome outcome = responder.handle(datagram, quint32(round));
        if (!outcome.reply.isEmpty()) {
            QVERIFY(outcome.reply.size() >= 300);
            seen.insert(ServerReply::of(outcome.reply).type);
        }
        QSet<QByteArray> holders;
        for (auto it = responder.leases().constBegin(); it != responder.leases().constEnd(); ++it) {
            QVERIFY(it.key() >= ip("192.168.51.10") && it.key() <= ip("192.168.51.14"));
            QVERIFY(!responder.declined().contains(it.key()));
            QVERIFY(!holders.contains(it->mac)); // one address per client
            holders.insert(it->mac);
        }
    }
    // The rounds reached every kind of answer, not only the early refusals.
    QCOMPARE(seen, (QSet<quint8>{Dhcp::kOffer, Dhcp::kAck, Dhcp::kNak}));
}

// Datagrams of busybox udhcpc and ISC dhclient as captured in the lab, replayed in their
// order: the replies and the user table changes each must lead to.
void TestDhcpInput::capturedConversation()
{
    struct Step {
        const char *datagram;
        quint8 replyType; // 0: none
        const char *address;
        const char *hostName; // of the user added; nullptr: the step removes `address`
    };
    const Step steps[] = {
        {"udhcpc-discover", Dhcp::kOffer, "192.168.51.10", nullptr},
        {"udhcpc-request", Dhcp::kAck, "192.168.51.10", "phone1"},
        {"udhcpc-release", 0, "192.168.51.10", nullptr},
        // .10 keeps its released record, so the next newcomer is given .11.
        {"dhclient-discover", Dhcp::kOffer, "192.168.51.11", nullptr},
        {"dhclient-request", Dhcp::kAck, "192.168.51.11", "laptop1"},
        {"dhclient-release", 0, "192.168.51.11", nullptr},
    };
    DHCPResponder responder;
    configure(responder);
    quint32 now = 100;
    for (const Step &step : steps) {
        const QByteArray datagram = golden(step.datagram);
        QVERIFY2(datagram.size() >= 300, step.datagram);
        const DHCPResponder::Outcome outcome = responder.handle(datagram, now++);
        const ServerReply reply = ServerReply::of(outcome.reply);
        QCOMPARE(reply.type, step.replyType);
        const bool discover = step.replyType == Dhcp::kOffer;
        if (step.replyType) {
            QCOMPARE(reply.yiaddr, ip(step.address));
            QCOMPARE(reply.xid, qFromBigEndian<quint32>(datagram.constData() + Dhcp::kTransactionId));
            QCOMPARE(reply.chaddr, datagram.mid(int(Dhcp::kClientHardwareAddress), 16));
            QCOMPARE(reply.number(Dhcp::kOptionLeaseTime), 3600);
            QCOMPARE(outcome.destination, Dhcp::kBroadcastAddress);
        }
        if (discover) {
            QVERIFY(outcome.userChanges.isEmpty());
            continue;
        }
        QCOMPARE(outcome.userChanges.size(), 1);
        const DHCPResponder::UserChange change = outcome.userChanges.first();
        QCOMPARE(change.address, ip(step.address));
        QCOMPARE(change.kind, step.hostName ? DHCPResponder::UserChange::Add
                                            : DHCPResponder::UserChange::Remove);
        if (step.hostName) {
            QCOMPARE(change.hostName, QByteArray(step.hostName));
            QCOMPARE(change.mac, datagram.mid(int(Dhcp::kClientHardwareAddress), 6));
        }
    }
}

QTEST_APPLESS_MAIN(TestDhcpInput)
#include "tst_dhcpinput.moc"
