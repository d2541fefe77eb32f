// SPDX-License-Identifier: GPL-3.0-or-later
// Test peer: filters one adapter through the packet driver and lets every frame pass.
//
// Usage: tarnwick_passthrough <interface> <mode> [--send-via-other]
// Reads the adapter's queue the way the packet engine does (packet event, drain, reset)
// and re-injects each frame where it was going: frames from the wire up into the stack,
// frames from the stack onto the wire. With --send-via-other the frames are re-injected
// through a second driver object that does not filter the adapter, as the opposite engine
// thread does. Prints "ready" once filtering, then "frames wire=N stack=M" whenever the
// counts change and once more at exit (SIGTERM or SIGINT); "badsum" counts IPv4 TCP/UDP
// frames whose checksum did not verify.
#include "engine/cndisapi.h"
#include "platform/waitevent.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

WaitEvent *g_stop = nullptr; // reached by the signal handler only

void onSignal(int)
{
    if (g_stop)
        g_stop->set();
}

bool findAdapter(CNdisApi &api, const char *ifname, AdapterHandle &handle)
{
    static AdapterList list; // 8.7 KB: kept off the stack
    if (!api.getAdapterList(list))
        return false;
    const std::string wanted = std::string(PacketDriver::kAdapterNamePrefix) + ifname;
    for (quint32 i = 0; i < list.count && i < quint32(PacketDriver::kMaxAdapters); ++i) {
        if (wanted == list.names[i]) {
            handle = list.handles[i];
            return true;
        }
    }
    return false;
}

// RFC 1071 sum of big-endian 16-bit words.
quint32 sum16(const quint8 *p, std::size_t n, quint32 sum = 0)
{
    for (std::size_t i = 0; i + 1 < n; i += 2)
        sum += quint32(p[i]) << 8 | p[i + 1];
    if (n & 1)
        sum += quint32(p[n - 1]) << 8;
    return sum;
}

// False for an IPv4 TCP or UDP frame whose transport checksum does not verify: the engine
// checks them, so frames must come out of the driver with their checksums filled in.
bool checksumsHold(const PacketBuffer &b)
{
    const quint8 *f = b.frame;
    if (b.length < 34 || f[12] != 0x08 || f[13] != 0x00)
        return true;
    const quint8 *ip = f + 14;
    const std::size_t headerLength = (ip[0] & 0x0F) * 4u;
    const std::size_t total = std::size_t(ip[2]) << 8 | ip[3];
    const bool fragment = ((ip[6] & 0x3F) | ip[7]) != 0;
    if (headerLength < 20 || total < headerLength || 14 + total > b.length || fragment)
        return true;
    const quint8 protocol = ip[9];
    const std::size_t length = total - headerLength;
    const quint8 *l4 = ip + headerLength;
    if (!(protocol == 6 && length >= 20) && !(protocol == 17 && length >= 8))
        return true;
    if (protocol == 17 && l4[6] == 0 && l4[7] == 0)
        return true; // no checksum
    quint32 sum = sum16(ip + 12, 8) + protocol + quint32(length);
    sum = sum16(l4, length, sum);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return sum == 0xFFFF;
}

struct Counts {
    unsigned long wire = 0, stack = 0, failedSends = 0, badChecksums = 0;
    unsigned long printed = ~0ul;
    std::chrono::steady_clock::time_point lastPrint;

    // At most ten lines a second, and only when something changed.
    void print(bool now)
    {
        const auto t = std::chrono::steady_clock::now();
        if (!now && (wire + stack == printed || t - lastPrint < std::chrono::milliseconds(100)))
            return;
        std::printf("frames wire=%lu stack=%lu failed=%lu badsum=%lu\n", wire, stack, failedSends, badChecksums);
        std::fflush(stdout);
        printed = wire + stack;
        lastPrint = t;
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <interface> <mode> [--send-via-other]\n", argv[0]);
        return 2;
    }
    const quint32 mode = static_cast<quint32>(std::strtoul(argv[2], nullptr, 0));
    const bool viaOther = argc > 3 && std::strcmp(argv[3], "--send-via-other") == 0;

    CNdisApi api("TRNWICK");
    CNdisApi other("TRNWICK");
    CNdisApi &sender = viaOther ? other : api;
    AdapterHandle adapter = 0;
    if (!api.isLoaded() || !findAdapter(api, argv[1], adapter)) {
        std::fprintf(stderr, "no adapter %s\n", argv[1]);
        return 1;
    }
    WaitEvent stop, packet;
    g_stop = &stop;
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    if (!api.setPacketEvent(adapter, packet.nativeHandle()) || !api.setPacketFilter(adapter, PacketDriver::FilterNormal)
        || !api.setAdapterMode(adapter, mode)) {
        std::fprintf(stderr, "cannot filter %s\n", argv[1]);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    static PacketBuffer buffer;
    PacketRequest request{adapter, &buffer};
    Counts counts;
    for (;;) {
        const WaitEvent::WaitResult r = WaitEvent::waitAny(stop, packet, 250);
        if (r == WaitEvent::FirstSignalled || r == WaitEvent::WaitFailed)
            break;
        if (r == WaitEvent::TimedOut) {
            counts.print(false);
            continue;
        }
        while (api.readPacket(request)) {
            const bool fromWire = buffer.direction == PacketFromWire;
            const bool sent = fromWire ? sender.sendPacketToStack(request) : sender.sendPacketToAdapter(request);
            ++(fromWire ? counts.wire : counts.stack);
            counts.failedSends += sent ? 0 : 1;
            counts.badChecksums += checksumsHold(buffer) ? 0 : 1;
        }
        packet.reset();
        counts.print(false);
    }
    api.setPacketEvent(adapter, kNullEventHandle);
    api.setAdapterMode(adapter, PacketDriver::ModeOff);
    api.flushAdapterQueue(adapter);
    counts.print(true);
    g_stop = nullptr;
    return 0;
}
