// SPDX-License-Identifier: GPL-3.0-or-later
// CNdisApi: request codes and records it sends, what it makes of replies, refusals.
#include "engine/cndisapi.h"

#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

using namespace PacketDriver;

namespace {

struct Call {
    quint32 code;
    QByteArray in;
    std::size_t outSize;
};

// A device that records every request and answers through a replaceable reply function.
class FakeDevice : public PacketDevice
{
public:
    using Reply = std::function<bool(quint32 code, ConstBytes in, MutableBytes out)>;

    FakeDevice(std::vector<Call> &calls, Reply reply) : m_calls(calls), m_reply(std::move(reply)) {}

    bool control(quint32 code, ConstBytes in, MutableBytes out) override
    {
        m_calls.push_back({code, QByteArray(static_cast<const char *>(in.data()), int(in.size())), out.size()});
        return m_reply(code, in, out);
    }

private:
    std::vector<Call> &m_calls;
    Reply m_reply;
};

template<typename T>
QByteArray bytesOf(const T &record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), int(sizeof record));
}

// Accepts everything; echoes the input record into the output when both have its size.
bool echo(quint32, ConstBytes in, MutableBytes out)
{
    if (out.data() && out.size() == in.size())
        std::memmove(out.data(), in.data(), in.size());
    return true;
}

} // namespace

class TestCNdisApi : public QObject
{
    Q_OBJECT

private slots:
    void recordLayouts();
    void controlCodes_data();
    void controlCodes();
    void requestsCarryTheirRecords();
    void adapterListComesFromTheDevice();
    void wideHandlesAreRefused();
    void everyOperationFailsWithoutDevice_data();
    void everyOperationFailsWithoutDevice();
    void packetFilterChecksTheLength_data();
    void packetFilterChecksTheLength();
    void linuxDeviceRefusesMalformedRequests_data();
    void linuxDeviceRefusesMalformedRequests();
};

void TestCNdisApi::recordLayouts()
{
    QCOMPARE(sizeof(AdapterList), std::size_t(8708));
    QCOMPARE(offsetof(AdapterList, count), std::size_t(0));
    QCOMPARE(offsetof(AdapterList, names), std::size_t(4));
    QCOMPARE(offsetof(AdapterList, handles), std::size_t(8196));
    QCOMPARE(offsetof(AdapterList, media), std::size_t(8324));
    QCOMPARE(offsetof(AdapterList, macs), std::size_t(8452));
    QCOMPARE(offsetof(AdapterList, mtus), std::size_t(8644));
    QCOMPARE(sizeof(AdapterList::names[0]), std::size_t(256));
    QCOMPARE(offsetof(OidRequest, adapter), std::size_t(0));
    QCOMPARE(offsetof(OidRequest, oid), std::size_t(4));
    QCOMPARE(offsetof(OidRequest, length), std::size_t(8));
    QCOMPARE(offsetof(OidRequest, data), std::size_t(12));
    QCOMPARE(sizeof(AdapterModeRequest), std::size_t(8));
    QCOMPARE(sizeof(PacketEventRequest), std::size_t(8));
    QCOMPARE(sizeof(PacketBuffer), std::size_t(1558));
    QCOMPARE(offsetof(PacketBuffer, frame), std::size_t(44));
    PacketBuffer buffers[2];
    QCOMPARE(reinterpret_cast<char *>(&buffers[1]) - reinterpret_cast<char *>(&buffers[0]), 1558L);
}

void TestCNdisApi::controlCodes_data()
{
    QTest::addColumn<quint32>("code");
    QTest::addColumn<quint32>("expected");
    QTest::newRow("version") << quint32(ControlVersion) << 0x830020C0u;
    QTest::newRow("adapter list") << quint32(ControlAdapterList) << 0x830020C4u;
    QTest::newRow("send to adapter") << quint32(ControlSendToAdapter) << 0x830020C8u;
    QTest::newRow("send to stack") << quint32(ControlSendToStack) << 0x830020CCu;
    QTest::newRow("read") << quint32(ControlReadPacket) << 0x830020D0u;
    QTest::newRow("mode") << quint32(ControlSetAdapterMode) << 0x830020D4u;
    QTest::newRow("flush") << quint32(ControlFlushQueue) << 0x830020D8u;
    QTest::newRow("packet event") << quint32(ControlSetPacketEvent) << 0x830020DCu;
    QTest::newRow("oid set") << quint32(ControlOidSet) << 0x830020E0u;
    QTest::newRow("oid query") << quint32(ControlOidQuery) << 0x830020E4u;
    QTest::newRow("queue size") << quint32(ControlQueueSize) << 0x830020F0u;
    QTest::newRow("wan links") << quint32(ControlWanLinks) << 0x8300210Cu;
    QTest::newRow("read many") << quint32(ControlReadMany) << 0x83002118u;
}

void TestCNdisApi::controlCodes()
{
    QFETCH(quint32, code);
    QFETCH(quint32, expected);
    QCOMPARE(code, expected);
}

void TestCNdisApi::requestsCarryTheirRecords()
{
    std::vector<Call> calls;
    CNdisApi api(std::make_unique<FakeDevice>(calls, echo));
    auto buffer = std::make_unique<PacketBuffer>();
    PacketRequest request{7, buffer.get()};

    QVERIFY(api.setAdapterMode(7, 0x53));
    QVERIFY(api.flushAdapterQueue(7));
    QVERIFY(api.setPacketEvent(7, 12));
    QVERIFY(api.setPacketEvent(7, kNullEventHandle));
    QVERIFY(api.setPacketFilter(7, 0x20));
    QVERIFY(api.readPacket(request));
    QVERIFY(api.sendPacketToAdapter(request));
    QVERIFY(api.sendPacketToStack(request));
    QCOMPARE(api.driverVersion(), 0xFFFFFFFFu); // echoed preset

    OidRequest filter{7, kOidCurrentPacketFilter, 4, {0x20, 0, 0, 0}};
    const std::vector<Call> expected = {
        {ControlSetAdapterMode, bytesOf(AdapterModeRequest{7, 0x53}), 0},
        {ControlFlushQueue, bytesOf(quint32(7)), 0},
        {ControlSetPacketEvent, bytesOf(PacketEventRequest{7, 12}), 0},
        {ControlSetPacketEvent, bytesOf(PacketEventRequest{7, -1}), 0},
        {ControlOidSet, bytesOf(filter), sizeof filter},
        {ControlReadPacket, bytesOf(request), sizeof request},
        {ControlSendToAdapter, bytesOf(request), 0},
        {ControlSendToStack, bytesOf(request), 0},
        {ControlVersion, bytesOf(quint32(0xFFFFFFFF)), 4},
    };
    QCOMPARE(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        QCOMPARE(calls[i].code, expected[i].code);
        QCOMPARE(calls[i].in.toHex(), expected[i].in.toHex());
        QCOMPARE(calls[i].outSize, expected[i].outSize);
    }
}

void TestCNdisApi::adapterListComesFromTheDevice()
{
    std::vector<Call> calls;
    CNdisApi api(std::make_unique<FakeDevice>(calls, [](quint32 code, ConstBytes in, MutableBytes out) {
        if (code != ControlAdapterList || in.size() != sizeof(AdapterList) || out.size() != sizeof(AdapterList))
            return false;
        auto &list = *static_cast<AdapterList *>(out.data());
        list.count = 2;
        std::strcpy(list.names[0], "\\DEVICE\\lan0");
        std::strcpy(list.names[1], "\\DEVICE\\wan0");
        list.handles[0] = 3;
        list.handles[1] = 4;
        const quint8 mac[6] = {0x02, 0, 0, 0, 0, 0x03};
        std::memcpy(list.macs[0], mac, 6);
        list.mtus[0] = 1500;
        list.mtus[1] = 1400;
        return true;
    }));
    auto list = std::make_unique<AdapterList>();
    QVERIFY(api.getAdapterList(*list));
    QCOMPARE(calls.size(), std::size_t(1));
    QCOMPARE(calls[0].code, quint32(0x830020C4));
    QCOMPARE(list->count, 2u);
    QCOMPARE(QByteArray(list->names[1]), QByteArray("\\DEVICE\\wan0"));
    QCOMPARE(list->handles[0], 3u);
    QCOMPARE(list->handles[1], 4u);
    QCOMPARE(list->macs[0][5], quint8(0x03));
    QCOMPARE(list->mtus[1], quint16(1400));
}

void TestCNdisApi::wideHandlesAreRefused()
{
    if (sizeof(AdapterHandle) <= 4)
        QSKIP("handles are 32-bit here");
    std::vector<Call> calls;
    CNdisApi api(std::make_unique<FakeDevice>(calls, echo));
    const AdapterHandle wide = AdapterHandle(1) << 32 | 7; // would alias adapter 7 if cut
    quint32 filter = 0;
    QVERIFY(!api.setAdapterMode(wide, 3));
    QVERIFY(!api.flushAdapterQueue(wide));
    QVERIFY(!api.setPacketEvent(wide, 3));
    QVERIFY(!api.setPacketFilter(wide, 0x0B));
    QVERIFY(!api.getPacketFilter(wide, filter));
    QVERIFY(calls.empty());
}

void TestCNdisApi::everyOperationFailsWithoutDevice_data()
{
    QTest::addColumn<QByteArray>("driverName");
    QTest::newRow("no device object") << QByteArray();
    QTest::newRow("unknown driver") << QByteArray("NOSUCHDRV");
    QTest::newRow("wrong case") << QByteArray("trnwick");
}

void TestCNdisApi::everyOperationFailsWithoutDevice()
{
    QFETCH(QByteArray, driverName);
    std::unique_ptr<CNdisApi> api = driverName.isEmpty()
        ? std::make_unique<CNdisApi>(std::unique_ptr<PacketDevice>())
        : std::make_unique<CNdisApi>(driverName.constData());
    QVERIFY(!api->isLoaded());
    QCOMPARE(api->driverVersion(), 0xFFFFFFFFu);

    auto list = std::make_unique<AdapterList>();
    std::memset(list.get(), 0x5A, sizeof *list);
    QVERIFY(!api->getAdapterList(*list));
    QCOMPARE(list->count, 0x5A5A5A5Au); // untouched

    auto buffer = std::make_unique<PacketBuffer>();
    buffer->length = 77;
    PacketRequest request{1, buffer.get()};
    QVERIFY(!api->readPacket(request));
    QCOMPARE(buffer->length, 77u);
    QVERIFY(!api->sendPacketToAdapter(request));
    QVERIFY(!api->sendPacketToStack(request));
    QVERIFY(!api->setAdapterMode(1, 3));
    QVERIFY(!api->flushAdapterQueue(1));
    QVERIFY(!api->setPacketEvent(1, 5));
    QVERIFY(!api->setPacketFilter(1, 0x0B));
    quint32 filter = 0x1234;
    QVERIFY(!api->getPacketFilter(1, filter));
    QCOMPARE(filter, 0x1234u);
}

void TestCNdisApi::packetFilterChecksTheLength_data()
{
    QTest::addColumn<bool>("accept");
    QTest::addColumn<quint32>("lengthAfter");
    QTest::addColumn<bool>("expected");
    QTest::newRow("length kept") << true << 4u << true;
    QTest::newRow("length cleared") << true << 0u << false;
    QTest::newRow("length grown") << true << 8u << false;
    QTest::newRow("request failed") << false << 4u << false;
}

void TestCNdisApi::packetFilterChecksTheLength()
{
    QFETCH(bool, accept);
    QFETCH(quint32, lengthAfter);
    QFETCH(bool, expected);
    std::vector<Call> calls;
    CNdisApi api(std::make_unique<FakeDevice>(calls, [&](quint32, ConstBytes in, MutableBytes out) {
        OidRequest r;
        std::memcpy(&r, in.data(), sizeof r);
        r.length = lengthAfter;
        r.data[0] = 0x0B; // what a query reports
        std::memcpy(out.data(), &r, sizeof r);
        return accept;
    }));
    QCOMPARE(api.setPacketFilter(3, 0x20), expected);
    quint32 filter = 0;
    QCOMPARE(api.getPacketFilter(3, filter), expected);
    if (expected)
        QCOMPARE(filter, 0x0Bu);
    QCOMPARE(calls.size(), std::size_t(2));
    QCOMPARE(calls[1].code, quint32(0x830020E4));
}

void TestCNdisApi::linuxDeviceRefusesMalformedRequests_data()
{
    QTest::addColumn<quint32>("code");
    QTest::addColumn<int>("inSize");
    QTest::addColumn<int>("outSize");
    QTest::newRow("version, short input") << quint32(ControlVersion) << 2 << 4;
    QTest::newRow("version, no output") << quint32(ControlVersion) << 4 << 0;
    QTest::newRow("list, short") << quint32(ControlAdapterList) << 8196 << 8196;
    QTest::newRow("read, short") << quint32(ControlReadPacket) << 8 << 8;
    QTest::newRow("read, null buffer") << quint32(ControlReadPacket) << int(sizeof(PacketRequest)) << int(sizeof(PacketRequest));
    QTest::newRow("send, long") << quint32(ControlSendToAdapter) << int(sizeof(PacketRequest)) + 4 << 0;
    QTest::newRow("mode, short") << quint32(ControlSetAdapterMode) << 4 << 0;
    QTest::newRow("flush, long") << quint32(ControlFlushQueue) << 8 << 0;
    QTest::newRow("event, short") << quint32(ControlSetPacketEvent) << 4 << 0;
    QTest::newRow("oid, header only") << quint32(ControlOidSet) << 12 << 12;
    QTest::newRow("not offered") << quint32(ControlQueueSize) << 4 << 4;
    QTest::newRow("not a code") << 0x12345678u << 4 << 4;
}

// Refused on size before anything is looked at, so this changes nothing on the machine.
void TestCNdisApi::linuxDeviceRefusesMalformedRequests()
{
    QFETCH(quint32, code);
    QFETCH(int, inSize);
    QFETCH(int, outSize);
    std::unique_ptr<PacketDevice> device = PacketDevice::open("TRNWICK");
    QVERIFY(device);
    std::vector<char> in(std::size_t(inSize) + 1, '\0'), out(std::size_t(outSize) + 1, '\x77');
    QVERIFY(!device->control(code, ConstBytes(in.data(), std::size_t(inSize)),
                             MutableBytes(outSize ? out.data() : nullptr, std::size_t(outSize))));
    for (char c : out)
        QCOMPARE(c, '\x77');
}

QTEST_GUILESS_MAIN(TestCNdisApi)
#include "tst_cndisapi.moc"
