// SPDX-License-Identifier: GPL-3.0-or-later
// The host network backend's parsers: resolv.conf, ARP packets, rtnetlink messages.
#include "platform/linux/arppacket.h"
#include "platform/linux/resolvconf.h"
#include "platform/linux/rtnetlink.h"

#include <QtTest>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>

using platform::rtnl::AttributeTable;
using platform::rtnl::ByteView;

namespace {

QList<quint32> toList(const std::vector<quint32> &v)
{
    return QList<quint32>(v.begin(), v.end());
}

QList<quint32> addresses(const QStringList &texts)
{
    QList<quint32> out;
    for (const QString &t : texts)
        out << QHostAddress(t).toIPv4Address();
    return out;
}

ByteView view(const QByteArray &bytes)
{
    return ByteView(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()));
}

// One rtattr: length, type, value, padding.
QByteArray attribute(quint16 type, const QByteArray &value, int claimedLength = -1)
{
    const quint16 length = quint16(claimedLength < 0 ? 4 + value.size() : claimedLength);
    QByteArray out(4, '\0');
    std::memcpy(out.data(), &length, 2);
    std::memcpy(out.data() + 2, &type, 2);
    out += value;
    while (out.size() % 4)
        out += '\0';
    return out;
}

QByteArray message(quint16 type, quint32 sequence, const QByteArray &payload, int claimedLength = -1)
{
    nlmsghdr h{};
    h.nlmsg_len = quint32(claimedLength < 0 ? int(sizeof h) + payload.size() : claimedLength);
    h.nlmsg_type = type;
    h.nlmsg_seq = sequence;
    QByteArray out(reinterpret_cast<const char *>(&h), sizeof h);
    out += payload;
    while (out.size() % 4)
        out += '\0';
    return out;
}

} // namespace

class TestHostNetParsers : public QObject
{
    Q_OBJECT

private slots:
    void resolvConf_data()
    {
        QTest::addColumn<QByteArray>("etc");
        QTest::addColumn<QByteArray>("stub");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("stubRead");

        QTest::newRow("in order") << QByteArray("nameserver 203.0.113.53\nnameserver 198.51.100.53\n")
                                  << QByteArray() << QStringList{"203.0.113.53", "198.51.100.53"} << false;
        QTest::newRow("comments, options, search")
            << QByteArray("# nameserver 1.1.1.1\n; nameserver 2.2.2.2\nsearch lan\noptions edns0\n"
                          "nameserver\t203.0.113.1   # office\n")
            << QByteArray() << QStringList{"203.0.113.1"} << false;
        QTest::newRow("ipv6 and malformed skipped")
            << QByteArray("nameserver 2001:db8::1\nnameserver 1.2.3\nnameserver 256.1.1.1\n"
                          "nameserver 1.2.3.4x\nnameserver 1.2.3.4.5\nnameserver127.0.0.1\n"
                          "nameserver -1.2.3.4\nnameserver 0001.2.3.4\nnameserver\nnameserver 198.51.100.7\r\n")
            << QByteArray() << QStringList{"198.51.100.7"} << false;
        QTest::newRow("systemd stub")
            << QByteArray("nameserver 127.0.0.53\noptions edns0 trust-ad\nsearch .\n")
            << QByteArray("nameserver 203.0.113.9\nnameserver 198.51.100.9\n")
            << QStringList{"203.0.113.9", "198.51.100.9"} << true;
        QTest::newRow("other loopback resolver")
            << QByteArray("nameserver 127.0.0.1\n") << QByteArray("nameserver 203.0.113.10\n")
            << QStringList{"203.0.113.10"} << true;
        QTest::newRow("stub without upstream file") << QByteArray("nameserver 127.0.0.53\n") << QByteArray()
                                                    << QStringList{} << true;
        QTest::newRow("stub beside a real server, empty upstream file")
            << QByteArray("nameserver 127.0.0.53\nnameserver 198.51.100.53\n") << QByteArray("# nothing\n")
            << QStringList{"198.51.100.53"} << true;
        QTest::newRow("loopback in upstream file dropped")
            << QByteArray("nameserver 127.0.0.53\n") << QByteArray("nameserver 127.0.0.1\nnameserver 203.0.113.2\n")
            << QStringList{"203.0.113.2"} << true;
        QTest::newRow("empty") << QByteArray() << QByteArray("nameserver 203.0.113.9\n") << QStringList{} << false;
    }

    void resolvConf()
    {
        QFETCH(QByteArray, etc);
        QFETCH(QByteArray, stub);
        QFETCH(QStringList, expected);
        QFETCH(bool, stubRead);
        bool asked = false;
        const auto servers = platform::resolvconf::upstreamServers(etc, [&] {
            asked = true;
            return stub;
        });
        QCOMPARE(toList(servers), addresses(expected));
        QCOMPARE(asked, stubRead);
    }

    void arpRequestLayout()
    {
        const QByteArray mac = QByteArray::fromHex("02aabbccddee");
        const QByteArray p = platform::arp::buildRequest(mac, 0xC6336401, 0xC6336402);
        QCOMPARE(p.toHex(), QByteArray("0001080006040001" "02aabbccddee" "c6336401" "000000000000" "c6336402"));
        // A short sender address never shifts the fields behind it.
        QCOMPARE(platform::arp::buildRequest(QByteArray("\x01", 1), 1, 2).size(), platform::arp::kPacketSize);
        QCOMPARE(platform::arp::buildRequest(QByteArray("\x01", 1), 1, 2).mid(24).toHex(), QByteArray("00000002"));
    }

    void arpReply_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<bool>("accepted");
        const QByteArray good = QByteArray::fromHex("0001080006040002" "0a0b0c0d0e0f" "c6336402" "02aabbccddee" "c6336401");
        QTest::newRow("reply") << good << true;
        QTest::newRow("reply with Ethernet padding") << good + QByteArray(18, '\0') << true;
        QTest::newRow("one byte short") << good.left(27) << false;
        QTest::newRow("empty") << QByteArray() << false;
        QByteArray request = good;
        request[7] = 1;
        QTest::newRow("request") << request << false;
        QByteArray longHardware = good;
        longHardware[4] = 8;
        QTest::newRow("hardware length 8") << longHardware << false;
        QByteArray ipv6 = good;
        ipv6[2] = char(0x86);
        ipv6[3] = char(0xdd);
        QTest::newRow("not IPv4") << ipv6 << false;
    }

    void arpReply()
    {
        QFETCH(QByteArray, packet);
        QFETCH(bool, accepted);
        const auto reply = platform::arp::parseReply(packet);
        QCOMPARE(bool(reply), accepted);
        if (reply) {
            QCOMPARE(reply->senderMac.toHex(), QByteArray("0a0b0c0d0e0f"));
            QCOMPARE(reply->senderAddress, 0xC6336402u);
        }
    }

    void attributesAreBoundsChecked()
    {
        const QByteArray area = attribute(IFLA_IFNAME, QByteArray("veth0\0", 6))
            + attribute(IFLA_MTU, QByteArray("\x00\x05", 2))         // too short for a u32
            + attribute(RTA_GATEWAY, QByteArray::fromHex("c6336401"))
            + attribute(RTA_DST, QByteArray::fromHex("c63364"))      // three bytes: no address
            + attribute(RTA_PRIORITY, QByteArray::fromHex("01000000"), 200); // claims more than is there
        const AttributeTable t = AttributeTable::parse(view(area));
        QCOMPARE(t.string(IFLA_IFNAME), QStringLiteral("veth0"));
        QVERIFY(!t.u32(IFLA_MTU));
        QCOMPARE(t.ipv4(RTA_GATEWAY).value_or(0), 0xC6336401u);
        QVERIFY(t.has(RTA_DST));
        QVERIFY(!t.ipv4(RTA_DST));
        QVERIFY(!t.has(RTA_PRIORITY));
        QVERIFY(t.string(IFLA_IFALIAS).isEmpty());
        // Truncated header and zero length end the parse without reading further.
        QVERIFY(!AttributeTable::parse(view(area.left(2))).has(IFLA_IFNAME));
        QVERIFY(!AttributeTable::parse(view(attribute(IFLA_IFNAME, "x", 2))).has(IFLA_IFNAME));
        QVERIFY(!AttributeTable::parse(ByteView()).has(0));
    }

    void nestedFlagIsMasked()
    {
        const QByteArray inner = attribute(IFLA_INFO_KIND, QByteArray("veth\0", 5));
        const QByteArray outer = attribute(quint16(IFLA_LINKINFO | NLA_F_NESTED), inner);
        const AttributeTable t = AttributeTable::parse(view(outer));
        QCOMPARE(AttributeTable::parse(t.get(IFLA_LINKINFO)).string(IFLA_INFO_KIND), QStringLiteral("veth"));
    }

    void messagesAreBoundsChecked()
    {
        const QByteArray two = message(RTM_NEWLINK, 7, "abcd") + message(NLMSG_DONE, 7, QByteArray(4, '\0'));
        bool complete = false;
        auto messages = platform::rtnl::splitMessages(view(two), &complete);
        QVERIFY(complete);
        QCOMPARE(int(messages.size()), 2);
        QCOMPARE(messages[0].type, quint16(RTM_NEWLINK));
        QCOMPARE(messages[0].sequence, 7u);
        QCOMPARE(messages[0].payload.toByteArray(), QByteArray("abcd"));

        const QByteArray claimsTooMuch = message(RTM_NEWLINK, 1, "abcd") + message(RTM_NEWLINK, 1, "efgh", 400);
        messages = platform::rtnl::splitMessages(view(claimsTooMuch), &complete);
        QVERIFY(!complete);
        QCOMPARE(int(messages.size()), 1);

        messages = platform::rtnl::splitMessages(view(message(RTM_NEWLINK, 1, "", 8)), &complete);
        QVERIFY(!complete);
        QVERIFY(messages.empty());
        messages = platform::rtnl::splitMessages(view(two.left(10)), &complete);
        QVERIFY(!complete);
        QVERIFY(messages.empty());
    }

    void requestCarriesLengthSequenceAndFlags()
    {
        platform::rtnl::Request r(RTM_NEWADDR, NLM_F_CREATE);
        r.attributeIpv4(IFA_LOCAL, 0xC0A83301);
        const QByteArray bytes = r.finish(42, NLM_F_REQUEST | NLM_F_ACK);
        bool complete = false;
        const auto messages = platform::rtnl::splitMessages(view(bytes), &complete);
        QVERIFY(complete);
        QCOMPARE(int(messages.size()), 1);
        QCOMPARE(messages[0].sequence, 42u);
        QCOMPARE(messages[0].flags, quint16(NLM_F_CREATE | NLM_F_REQUEST | NLM_F_ACK));
        QCOMPARE(AttributeTable::parse(messages[0].payload).ipv4(IFA_LOCAL).value_or(0), 0xC0A83301u);
    }
};

QTEST_GUILESS_MAIN(TestHostNetParsers)
#include "tst_hostnetparsers.moc"
