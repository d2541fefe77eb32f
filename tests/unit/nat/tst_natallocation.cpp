// SPDX-License-Identifier: GPL-3.0-or-later
// Translating packets of existing mappings allocates no memory; creating a mapping may.
#include "engine/natservice.h"
#include "natflows.h"

#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <new>

// Every operator new of this program goes through here, so a test can count the allocations
// its own thread makes inside a measured stretch.
namespace {
thread_local bool t_counting = false;
std::atomic<long> g_allocations{0};

void *allocate(std::size_t size)
{
    if (t_counting)
        g_allocations.fetch_add(1);
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

class Counting
{
public:
    Counting()
    {
        g_allocations.store(0);
        t_counting = true;
    }
    ~Counting() { t_counting = false; }
    long allocations() const { return g_allocations.load(); }
};
} // namespace

void *operator new(std::size_t size) { return allocate(size); }
void *operator new[](std::size_t size) { return allocate(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept
{
    return operator new(size, tag);
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }

using namespace natflows;

class TestNatAllocation : public QObject
{
    Q_OBJECT

private slots:
    void counterSeesAllocations();
    void hitPathAllocatesNothing();
};

void TestNatAllocation::counterSeesAllocations()
{
    UpTime clock;
    PortTable table(&clock);
    Counting counting;
    QVERIFY(table.translateOutbound(client(10), port(40000), remote(7), port(443), 60, 0x02));
    QVERIFY(counting.allocations() > 0);
}

void TestNatAllocation::hitPathAllocatesNothing()
{
    UpTime clock;
    NATService nat(&clock);
    PortTable &tcp = *nat.tcpTable();
    PortTable &udp = *nat.udpTable();
    QueryTable &icmp = *nat.icmpTable();
    for (int i = 0; i < 2000; ++i) {
        const quint16 p = quint16(20000 + i);
        QVERIFY(tcp.translateOutbound(client(10), port(p), remote(quint8(i % 5)), port(443), 60, 0x02));
        QVERIFY(udp.translateOutbound(client(11), port(p), remote(quint8(i % 5)), port(53), 60, 0x00));
        QVERIFY(icmp.translateOutbound(client(12), remote(quint8(i % 5)), port(p), 98));
    }
    QVERIFY(tcp.addStaticMapping(0xC0A8330A, 80, 0, 8080));
    QVERIFY(tcp.translateInbound(8080, remote(9), port(5555), 60, 0x02));

    int translated = 0;
    long allocations = 0;
    {
        Counting counting;
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < 2000; ++i) {
                const quint16 p = quint16(20000 + i);
                const quint32 r = remote(quint8(i % 5));
                translated += bool(tcp.translateOutbound(client(10), port(p), r, port(443), 60, 0x10));
                translated += bool(tcp.translateInbound(p, r, port(443), 60, 0x18));
                translated += bool(udp.translateOutbound(client(11), port(p), r, port(53), 60, 0x00));
                translated += bool(udp.translateInbound(p, r, port(53), 60, 0x00));
                translated += bool(icmp.translateOutbound(client(12), r, port(p), 98));
                translated += bool(icmp.translateInbound(p, r, 98));
            }
            translated += bool(tcp.translateInbound(8080, remote(9), port(5555), 60, 0x10));
            translated += bool(tcp.translateOutbound(client(10), port(80), remote(9), port(5555), 60, 0x10));
            // Misses allocate nothing either: the host's own traffic takes this path.
            translated -= bool(tcp.translateInbound(8081, remote(9), port(5555), 60, 0x02));
            translated -= bool(udp.translateInbound(8080, remote(9), port(5555), 60, 0x00));
            translated -= bool(tcp.translateOutbound(client(10), port(81), remote(9), port(5555), 60, 0x10));
        }
        allocations = counting.allocations();
    }
    QCOMPARE(translated, 3 * (6 * 2000 + 2));
    QCOMPARE(allocations, 0L);
}

QTEST_APPLESS_MAIN(TestNatAllocation)
#include "tst_natallocation.moc"
