// SPDX-License-Identifier: GPL-3.0-or-later
// DHCP message handling without sockets: offers, the request variants, decline, release,
// the exhausted pool and INFORM.
#include "dhcpmessages.h"
#include "engine/dhcpresponder.h"

#include <QtTest>

class TestDhcpResponder : public QObject
{
    Q_OBJECT
private slots:
    void discoverGetsOffer_data();
    void discoverGetsOffer();
    void requestVariants_data();
    void requestVariants();
    void rediscoverKeepsFullLease();
    void decline_data();
    void decline();
    void declinedNeverOfferedAgain();
    void release_data();
    void release();
    void exhaustedPool();
    void offerHoldRunsOut();
    void inform();
};

void TestDhcpResponder::discoverGetsOffer_data()
{
    QTest::addColumn<quint32>("requested"); // 0: no option 50
    QTest::addColumn<quint32>("expected");
    QTest::newRow("no option 50: first address of the range") << 0u << ip("192.168.51.10");
    QTest::newRow("free address inside the range") << ip("192.168.51.20") << ip("192.168.51.20");
    QTest::newRow("last address of the range") << ip("192.168.51.50") << ip("192.168.51.50");
    QTest::newRow("outside the range: first free one") << ip("192.168.51.51") << ip("192.168.51.10");
    QTest::newRow("another network: first free one") << ip("10.0.0.7") << ip("192.168.51.10");
    QTest::newRow("the gateway itself: first free one") << ip("192.168.51.1") << ip("192.168.51.10");
}

void TestDhcpResponder::discoverGetsOffer()
{
    QFETCH(quint32, requested);
    QFETCH(quint32, expected);
    DHCPResponder responder;
    configure(responder);
    ClientMessage discover = message(Dhcp::kDiscover, 1);
    if (requested)
        discover.requested = requested;

    const DHCPResponder::Outcome outcome = responder.handle(discover.bytes(), 100);
    const ServerReply offer = ServerReply::of(outcome.reply);
    QVERIFY(offer.valid);
    QVERIFY(offer.size >= 300);
    QCOMPARE(outcome.destination, Dhcp::kBroadcastAddress);
    QCOMPARE(offer.op, Dhcp::kOpReply);
    QCOMPARE(offer.type, Dhcp::kOffer);
    QCOMPARE(offer.xid, discover.xid);
    QCOMPARE(offer.cookie, Dhcp::kMagicCookieValue);
    QCOMPARE(offer.chaddr.left(6), discover.mac);
    QCOMPARE(offer.yiaddr, expected);
    QCOMPARE(offer.number(Dhcp::kOptionLeaseTime), 3600);
    QCOMPARE(offer.number(Dhcp::kOptionSubnetMask), qint64(ip("255.255.255.0")));
    QCOMPARE(offer.number(Dhcp::kOptionRouter), qint64(ip("192.168.51.1")));
    QCOMPARE(offer.number(Dhcp::kOptionDnsServer), qint64(ip("192.168.51.1")));
    QCOMPARE(offer.number(Dhcp::kOptionServerIdentifier), qint64(ip("192.168.51.1")));
    QCOMPARE(offer.options.value(Dhcp::kOptionDomainName), DHCPResponder::kDomainName);
    QVERIFY(outcome.userChanges.isEmpty());
    // The offer holds the address for this client only.
    QCOMPARE(responder.leases().value(expected).mac, discover.mac);
    QCOMPARE(responder.leases().value(expected).expiry, 100u + DHCPResponder::kOfferHoldSeconds);
    QCOMPARE(ServerReply::of(responder.handle(message(Dhcp::kDiscover, 2).bytes(), 101).reply).yiaddr == expected, false);
}

void TestDhcpResponder::requestVariants_data()
{
    QTest::addColumn<QString>("prelude"); // client 1 at time 100: none, offered, bound, released
    QTest::addColumn<int>("elapsed");
    QTest::addColumn<quint32>("serverId"); // 0: no option 54
    QTest::addColumn<quint32>("requested"); // 0: no option 50
    QTest::addColumn<quint32>("ciaddr");
    QTest::addColumn<int>("replyType"); // 0: no reply
    QTest::addColumn<qint64>("lease");  // option 51 of an ACK
    QTest::addColumn<quint32>("destination");

    const quint32 us = ip("192.168.51.1");
    const quint32 a10 = ip("192.168.51.10");
    const quint32 a11 = ip("192.168.51.11");
    const quint32 bc = Dhcp::kBroadcastAddress;
    // SELECTING
    QTest::newRow("selecting the offer") << "offered" << 2 << us << a10 << 0u << 5 << 3600ll << bc;
    QTest::newRow("selecting another server") << "offered" << 2 << ip("192.168.51.2") << a10 << 0u << 0 << 0ll << bc;
    QTest::newRow("selecting another address") << "offered" << 2 << us << a11 << 0u << 6 << 0ll << bc;
    QTest::newRow("selecting without option 50") << "offered" << 2 << us << 0u << 0u << 6 << 0ll << bc;
    QTest::newRow("unknown client selecting us") << "none" << 0 << us << a10 << 0u << 6 << 0ll << bc;
    QTest::newRow("unknown client selecting another server") << "none" << 0 << ip("192.168.51.9") << a10 << 0u << 0 << 0ll << bc;
    // INIT-REBOOT
    QTest::newRow("init-reboot: seconds left") << "bound" << 600 << 0u << a10 << 0u << 5 << 3000ll << bc;
    QTest::newRow("init-reboot: another address") << "bound" << 600 << 0u << a11 << 0u << 6 << 0ll << bc;
    QTest::newRow("init-reboot: lease ran out") << "bound" << 3700 << 0u << a10 << 0u << 6 << 0ll << bc;
    QTest::newRow("init-reboot: lease released") << "released" << 1 << 0u << a10 << 0u << 6 << 0ll << bc;
    QTest::newRow("init-reboot: only offered") << "offered" << 2 << 0u << a10 << 0u << 6 << 0ll << bc;
    QTest::newRow("init-reboot: unknown client") << "none" << 0 << 0u << a10 << 0u << 6 << 0ll << bc;
    // RENEWING and REBINDING: unicast to ciaddr (RFC 2131 section 4.1); NAKs broadcast
    QTest::newRow("renewing") << "bound" << 1800 << 0u << 0u << a10 << 5 << 3600ll << a10;
    QTest::newRow("rebinding after the lease ran out") << "bound" << 4000 << 0u << 0u << a10 << 5 << 3600ll << a10;
    QTest::newRow("renewing another address") << "bound" << 1800 << 0u << 0u << a11 << 6 << 0ll << bc;
    QTest::newRow("renewing, unknown client") << "none" << 0 << 0u << 0u << a10 << 6 << 0ll << bc;
}

void TestDhcpResponder::requestVariants()
{
    QFETCH(QString, prelude);
    QFETCH(int, elapsed);
    QFETCH(quint32, serverId);
    QFETCH(quint32, requested);
    QFETCH(quint32, ciaddr);
    QFETCH(int, replyType);
    QFETCH(qint64, lease);
    QFETCH(quint32, destination);

    DHCPResponder responder;
    configure(responder);
    if (prelude == "offered")
        responder.handle(message(Dhcp::kDiscover, 1).bytes(), 100);
    if (prelude == "bound" || prelude == "released")
        QCOMPARE(bindClient(responder, 1, 100), ip("192.168.51.10"));
    if (prelude == "released") {
        ClientMessage release = message(Dhcp::kRelease, 1);
        release.serverId = ip("192.168.51.1");
        release.ciaddr = ip("192.168.51.10");
        responder.handle(release.bytes(), 100);
    }
    const auto leasesBefore = responder.leases();

    ClientMessage request = message(Dhcp::kRequest, 1);
    request.hostName = "phone1";
    request.ciaddr = ciaddr;
    if (serverId)
        request.serverId = serverId;
    if (requested)
        request.requested = requested;
    const quint32 now = 100 + quint32(elapsed);
    const DHCPResponder::Outcome outcome = responder.handle(request.bytes(), now);
    const ServerReply reply = ServerReply::of(outcome.reply);

    QCOMPARE(int(reply.type), replyType);
    if (replyType == 0) {
        QVERIFY(outcome.reply.isEmpty());
        QVERIFY(outcome.userChanges.isEmpty());
        QCOMPARE(responder.leases().keys(), leasesBefore.keys());
        return;
    }
    QCOMPARE(outcome.destination, destination);
    QVERIFY(reply.size >= 300);
    QCOMPARE(reply.number(Dhcp::kOptionServerIdentifier), qint64(ip("192.168.51.1")));
    if (replyType == Dhcp::kNak) {
        QCOMPARE(reply.ciaddr, 0u);
        QCOMPARE(reply.yiaddr, 0u);
        auto codes = reply.options.keys();
        std::sort(codes.begin(), codes.end());
        QCOMPARE(codes, (QList<quint8>{Dhcp::kOptionMessageType, Dhcp::kOptionServerIdentifier}));
        QVERIFY(outcome.userChanges.isEmpty());
        return;
    }
    const quint32 a10 = ip("192.168.51.10");
    QCOMPARE(reply.yiaddr, a10);
    QCOMPARE(reply.ciaddr, ciaddr);
    QCOMPARE(reply.number(Dhcp::kOptionLeaseTime), lease);
    QCOMPARE(reply.number(Dhcp::kOptionSubnetMask), qint64(ip("255.255.255.0")));
    QCOMPARE(responder.leases().value(a10).expiry, now + quint32(lease));
    QCOMPARE(outcome.userChanges.size(), 1);
    const DHCPResponder::UserChange change = outcome.userChanges.first();
    QCOMPARE(change.kind, DHCPResponder::UserChange::Add);
    QCOMPARE(change.address, a10);
    QCOMPARE(change.mac, macOf(1));
    QCOMPARE(change.hostName, QByteArray("phone1"));
}

// A client that repeats its DISCOVER while its offer is held, or after releasing, must
// still be offered (and then granted) a full lease, not the seconds the hold has left.
void TestDhcpResponder::rediscoverKeepsFullLease()
{
    DHCPResponder responder;
    configure(responder);
    responder.handle(message(Dhcp::kDiscover, 1).bytes(), 100);
    const ServerReply again = ServerReply::of(responder.handle(message(Dhcp::kDiscover, 1).bytes(), 105).reply);
    QCOMPARE(again.yiaddr, ip("192.168.51.10"));
    QCOMPARE(again.number(Dhcp::kOptionLeaseTime), 3600);
    ClientMessage select = message(Dhcp::kRequest, 1);
    select.serverId = ip("192.168.51.1");
    select.requested = ip("192.168.51.10");
    QCOMPARE(ServerReply::of(responder.handle(select.bytes(), 106).reply).number(Dhcp::kOptionLeaseTime), 3600);

    // A bound client asking again within its lease keeps its address and the time left.
    const ServerReply bound = ServerReply::of(responder.handle(message(Dhcp::kDiscover, 1).bytes(), 706).reply);
    QCOMPARE(bound.yiaddr, ip("192.168.51.10"));
    QCOMPARE(bound.number(Dhcp::kOptionLeaseTime), 3000);

    ClientMessage release = message(Dhcp::kRelease, 1);
    release.serverId = ip("192.168.51.1");
    release.ciaddr = ip("192.168.51.10");
    responder.handle(release.bytes(), 800);
    const ServerReply afterRelease = ServerReply::of(responder.handle(message(Dhcp::kDiscover, 1).bytes(), 800).reply);
    QCOMPARE(afterRelease.yiaddr, ip("192.168.51.10"));
    QCOMPARE(afterRelease.number(Dhcp::kOptionLeaseTime), 3600);
}

void TestDhcpResponder::decline_data()
{
    QTest::addColumn<int>("client");
    QTest::addColumn<quint32>("serverId"); // 0: no option 54
    QTest::addColumn<quint32>("requested");
    QTest::addColumn<bool>("declined");
    const quint32 us = ip("192.168.51.1");
    const quint32 a10 = ip("192.168.51.10");
    QTest::newRow("matching") << 1 << us << a10 << true;
    QTest::newRow("another server") << 1 << ip("192.168.51.2") << a10 << false;
    QTest::newRow("no server identifier") << 1 << 0u << a10 << false;
    QTest::newRow("another address") << 1 << us << ip("192.168.51.11") << false;
    QTest::newRow("unknown client") << 2 << us << a10 << false;
}

void TestDhcpResponder::decline()
{
    QFETCH(int, client);
    QFETCH(quint32, serverId);
    QFETCH(quint32, requested);
    QFETCH(bool, declined);
    DHCPResponder responder;
    configure(responder);
    const quint32 a10 = ip("192.168.51.10");
    QCOMPARE(bindClient(responder, 1, 100), a10);

    ClientMessage decline = message(Dhcp::kDecline, client);
    if (serverId)
        decline.serverId = serverId;
    decline.requested = requested;
    const DHCPResponder::Outcome outcome = responder.handle(decline.bytes(), 110);
    QVERIFY(outcome.reply.isEmpty());
    QCOMPARE(responder.declined().contains(a10), declined);
    QCOMPARE(responder.leases().contains(a10), !declined);
    if (declined) {
        QCOMPARE(outcome.userChanges.size(), 1);
        QCOMPARE(outcome.userChanges.first().kind, DHCPResponder::UserChange::Remove);
        QCOMPARE(outcome.userChanges.first().address, a10);
        // The client starts again and is given another address.
        QCOMPARE(ServerReply::of(responder.handle(message(Dhcp::kDiscover, 1).bytes(), 111).reply).yiaddr,
                 ip("192.168.51.11"));
    } else {
        QVERIFY(outcome.userChanges.isEmpty());
    }
}

void TestDhcpResponder::declinedNeverOfferedAgain()
{
    DHCPResponder responder;
    configure(responder, "192.168.51.10", "192.168.51.11");
    QCOMPARE(bindClient(responder, 1, 100), ip("192.168.51.10"));
    ClientMessage decline = message(Dhcp::kDecline, 1);
    decline.serverId = ip("192.168.51.1");
    decline.requested = ip("192.168.51.10");
    responder.handle(decline.bytes(), 100);

    ClientMessage asking = message(Dhcp::kDiscover, 2);
    asking.requested = ip("192.168.51.10");
    QCOMPARE(ServerReply::of(responder.handle(asking.bytes(), 101).reply).yiaddr, ip("192.168.51.11"));
    QCOMPARE(bindClient(responder, 2, 101), ip("192.168.51.11"));
    // The pool has nothing else: no offer now, and once .11 has run out it is taken over,
    // never the declined .10.
    QVERIFY(responder.handle(message(Dhcp::kDiscover, 3).bytes(), 200).reply.isEmpty());
    QCOMPARE(ServerReply::of(responder.handle(asking.bytes(), 200000).reply).yiaddr, ip("192.168.51.11"));
    QCOMPARE(ServerReply::of(responder.handle(message(Dhcp::kDiscover, 4).bytes(), 300000).reply).yiaddr,
             ip("192.168.51.11"));
}

void TestDhcpResponder::release_data()
{
    QTest::addColumn<quint32>("serverId");
    QTest::addColumn<quint32>("ciaddr");
    QTest::addColumn<bool>("released");
    const quint32 us = ip("192.168.51.1");
    QTest::newRow("matching") << us << ip("192.168.51.10") << true;
    QTest::newRow("another server") << ip("192.168.51.2") << ip("192.168.51.10") << false;
    QTest::newRow("no server identifier") << 0u << ip("192.168.51.10") << false;
    QTest::newRow("another address") << us << ip("192.168.51.12") << false;
    QTest::newRow("no client address") << us << 0u << false;
}

void TestDhcpResponder::release()
{
    QFETCH(quint32, serverId);
    QFETCH(quint32, ciaddr);
    QFETCH(bool, released);
    DHCPResponder responder;
    configure(responder);
    const quint32 a10 = ip("192.168.51.10");
    QCOMPARE(bindClient(responder, 1, 100), a10);

    ClientMessage release = message(Dhcp::kRelease, 1);
    if (serverId)
        release.serverId = serverId;
    release.ciaddr = ciaddr;
    const DHCPResponder::Outcome outcome = responder.handle(release.bytes(), 500);
    QVERIFY(outcome.reply.isEmpty());
    // The record stays either way; a release only makes it expire now.
    QVERIFY(responder.leases().contains(a10));
    QCOMPARE(responder.leases().value(a10).mac, macOf(1));
    QCOMPARE(responder.leases().value(a10).duration, 3600u);
    QCOMPARE(responder.leases().value(a10).expiry, released ? 500u : 3700u);
    QCOMPARE(outcome.userChanges.size(), released ? 1 : 0);
    if (released) {
        QCOMPARE(outcome.userChanges.first().kind, DHCPResponder::UserChange::Remove);
        QCOMPARE(outcome.userChanges.first().address, a10);
    }
}

void TestDhcpResponder::exhaustedPool()
{
    DHCPResponder responder;
    configure(responder, "192.168.51.10", "192.168.51.12");
    QCOMPARE(bindClient(responder, 1, 100), ip("192.168.51.10"));
    QCOMPARE(bindClient(responder, 2, 300), ip("192.168.51.11"));
    QCOMPARE(bindClient(responder, 3, 200), ip("192.168.51.12"));
    // Leases run out at 3700 (.10), 3900 (.11) and 3800 (.12).
    QVERIFY(responder.handle(message(Dhcp::kDiscover, 4).bytes(), 400).reply.isEmpty());
    QVERIFY(responder.handle(message(Dhcp::kDiscover, 4).bytes(), 3700).reply.isEmpty());
    QVERIFY(responder.leases().value(ip("192.168.51.10")).mac == macOf(1));

    // At 3850 .10 and .12 have run out; the oldest, .10, is taken over.
    const ServerReply offer = ServerReply::of(responder.handle(message(Dhcp::kDiscover, 4).bytes(), 3850).reply);
    QCOMPARE(offer.yiaddr, ip("192.168.51.10"));
    QCOMPARE(responder.leases().value(ip("192.168.51.10")).mac, macOf(4));
    // Its former holder is a stranger now: renewing gets a NAK.
    ClientMessage renew = message(Dhcp::kRequest, 1);
    renew.ciaddr = ip("192.168.51.10");
    QCOMPARE(ServerReply::of(responder.handle(renew.bytes(), 3851).reply).type, Dhcp::kNak);
    // The next newcomer gets .12, the remaining expired lease.
    QCOMPARE(ServerReply::of(responder.handle(message(Dhcp::kDiscover, 5).bytes(), 3851).reply).yiaddr,
             ip("192.168.51.12"));
}

void TestDhcpResponder::offerHoldRunsOut()
{
    DHCPResponder responder;
    configure(responder, "192.168.51.10", "192.168.51.10");
    QCOMPARE(ServerReply::of(responder.handle(message(Dhcp::kDiscover, 1).bytes(), 100).reply).yiaddr,
             ip("192.168.51.10"));
    QVERIFY(responder.handle(message(Dhcp::kDiscover, 2).bytes(), 110).reply.isEmpty());
    QCOMPARE(ServerReply::of(responder.handle(message(Dhcp::kDiscover, 2).bytes(), 111).reply).yiaddr,
             ip("192.168.51.10"));
    // The first client's late SELECTING request is refused.
    ClientMessage select = message(Dhcp::kRequest, 1);
    select.serverId = ip("192.168.51.1");
    select.requested = ip("192.168.51.10");
    QCOMPARE(ServerReply::of(responder.handle(select.bytes(), 112).reply).type, Dhcp::kNak);
}

void TestDhcpResponder::inform()
{
    DHCPResponder responder;
    configure(responder);
    ClientMessage inform = message(Dhcp::kInform, 1);
    inform.ciaddr = ip("192.168.51.200");
    const DHCPResponder::Outcome outcome = responder.handle(inform.bytes(), 100);
    const ServerReply ack = ServerReply::of(outcome.reply);
    QCOMPARE(ack.type, Dhcp::kAck);
    QCOMPARE(outcome.destination, ip("192.168.51.200"));
    QCOMPARE(ack.yiaddr, 0u);
    QCOMPARE(ack.number(Dhcp::kOptionLeaseTime), -1);
    QCOMPARE(ack.number(Dhcp::kOptionRouter), qint64(ip("192.168.51.1")));
    QCOMPARE(ack.number(Dhcp::kOptionDnsServer), qint64(ip("192.168.51.1")));
    QVERIFY(outcome.userChanges.isEmpty());
    QVERIFY(responder.leases().isEmpty());
}

QTEST_APPLESS_MAIN(TestDhcpResponder)
#include "tst_dhcpresponder.moc"
