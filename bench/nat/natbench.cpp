// SPDX-License-Identifier: GPL-3.0-or-later
// Measures a TCP port table's memory and translation time at 1,000 and 65,536 live mappings.
//
// For each size it fills a fresh table with that many established client flows (random
// clients, client ports and remote endpoints, the way a busy hotspot looks), then times
// outbound and inbound look-ups of those flows in a shuffled order, so that neighbouring
// look-ups touch unrelated parts of the table (the worst case: every look-up may miss the
// processor's caches). The hot figures time the same look-ups over a working set of only 64
// of those flows while the table still holds all of them, the way a hotspot with a few busy
// downloads looks. Prints one line per size:
//   nat mappings=N memory_kib=K outbound_ns=O inbound_ns=I hot_outbound_ns=HO
//       hot_inbound_ns=HI heap_kib=H
// memory_kib is the growth of the resident set while the table was filled, heap_kib the
// growth of the allocator's bytes in use, mapped blocks included (the finer figure of the two).
#include "app/uptime.h"
#include "engine/porttable.h"

#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <malloc.h>
#include <memory>
#include <optional>
#include <random>
#include <unistd.h>
#include <vector>

namespace {

struct Flow {
    quint32 clientAddress;
    quint16 clientPort;
    quint32 remoteAddress;
    quint16 remotePort;
    quint16 externalPort;
};

long residentKib()
{
    long pages = 0;
    long resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Bytes in use in the allocator's arenas plus the blocks it maps on its own (large arrays).
long heapKib()
{
    const struct mallinfo2 info = mallinfo2();
    return long((info.uordblks + info.hblkhd) / 1024);
}

std::vector<Flow> randomFlows(int count, std::mt19937 &random)
{
    std::uniform_int_distribution<int> clientHost(2, 251);
    std::uniform_int_distribution<int> clientPort(32768, 60999);
    std::uniform_int_distribution<int> remoteHost(1, 254);
    const quint16 remotePorts[] = {443, 80, 53, 8443, 5222, 993};
    std::uniform_int_distribution<int> remotePort(0, 5);
    std::vector<Flow> flows(static_cast<std::size_t>(count));
    for (Flow &f : flows) {
        f.clientAddress = qToBigEndian(quint32(0xC0A83300) | quint32(clientHost(random)));
        f.clientPort = qToBigEndian(quint16(clientPort(random)));
        f.remoteAddress = qToBigEndian(quint32(0xC6336400) | quint32(remoteHost(random)));
        f.remotePort = qToBigEndian(remotePorts[remotePort(random)]);
        f.externalPort = 0;
    }
    return flows;
}

// The best of five passes of about a million look-ups each: the flows are visited in a
// shuffled but fixed order, so the table is probed at random while the benchmark's own
// reads stream; the best pass is the one least disturbed by other work on the machine.
template <typename Lookup>
double nanosecondsPerLookup(const std::vector<Flow> &flows, Lookup lookup)
{
    const int rounds = std::max<int>(1, (1 << 20) / int(flows.size()));
    double best = 0;
    for (int pass = 0; pass < 5; ++pass) {
        int hits = 0;
        const auto begin = std::chrono::steady_clock::now();
        for (int round = 0; round < rounds; ++round)
            for (const Flow &f : flows)
                hits += lookup(f);
        const auto end = std::chrono::steady_clock::now();
        const long lookups = long(rounds) * long(flows.size());
        if (hits != lookups)
            std::fprintf(stderr, "natbench: %ld of %ld look-ups missed\n", lookups - hits, lookups);
        const double ns = std::chrono::duration<double, std::nano>(end - begin).count() / double(lookups);
        if (pass == 0 || ns < best)
            best = ns;
    }
    return best;
}

struct Timings {
    double outbound = 0;
    double inbound = 0;
};

Timings timeLookups(PortTable &table, const std::vector<Flow> &flows)
{
    Timings timings;
    timings.outbound = nanosecondsPerLookup(flows, [&](const Flow &f) {
        return int(bool(table.translateOutbound(f.clientAddress, f.clientPort, f.remoteAddress,
                                                f.remotePort, 1514, 0x10)));
    });
    timings.inbound = nanosecondsPerLookup(flows, [&](const Flow &f) {
        return int(bool(table.translateInbound(f.externalPort, f.remoteAddress, f.remotePort,
                                               1514, 0x10)));
    });
    return timings;
}

void measure(int mappings, std::mt19937 &random)
{
    // Candidates beyond the target, since random flows may repeat a key.
    std::vector<Flow> flows = randomFlows(mappings + mappings / 4 + 16, random);
    UpTime clock;

    const long residentBefore = residentKib();
    const long heapBefore = heapKib();
    auto table = std::make_unique<PortTable>(&clock);
    int live = 0;
    for (std::size_t i = 0; i < flows.size() && live < mappings; ++i) {
        Flow &f = flows[i];
        const int before = table->size();
        const std::optional<quint16> port = table->translateOutbound(
            f.clientAddress, f.clientPort, f.remoteAddress, f.remotePort, 74, 0x02);
        if (!port || table->size() == before)
            continue;
        f.externalPort = *port;
        table->translateInbound(*port, f.remoteAddress, f.remotePort, 74, 0x12);
        table->translateOutbound(f.clientAddress, f.clientPort, f.remoteAddress, f.remotePort, 66, 0x10);
        flows[std::size_t(live++)] = f;
    }
    const long residentGrowth = residentKib() - residentBefore;
    const long heapGrowth = heapKib() - heapBefore;
    flows.resize(std::size_t(live));

    std::shuffle(flows.begin(), flows.end(), random);
    const Timings all = timeLookups(*table, flows);
    // The shuffle already made the first 64 flows a random sample of the table.
    const std::vector<Flow> hotFlows(flows.begin(), flows.begin() + std::min<long>(64, live));
    const Timings hot = timeLookups(*table, hotFlows);
    std::printf("nat mappings=%d memory_kib=%ld outbound_ns=%.1f inbound_ns=%.1f "
                "hot_outbound_ns=%.1f hot_inbound_ns=%.1f heap_kib=%ld\n",
                live, residentGrowth, all.outbound, all.inbound, hot.outbound, hot.inbound,
                heapGrowth);
    std::fflush(stdout);
}

} // namespace

int main()
{
    std::mt19937 random(20240611);
    measure(1000, random);
    measure(65536, random);
    return 0;
}
