// SPDX-License-Identifier: GPL-3.0-or-later
// A bridge-mode engine pair without a driver: real tables, a recording send routine.
#pragma once

#include "app/uptime.h"
#include "engine/arpproxy.h"
#include "engine/arptable.h"
#include "engine/bridgeforwarder.h"
#include "engine/forwarder.h"
#include "engine/framesender.h"

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QStringList>
#include <QVector>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <memory>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define BRIDGE_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define BRIDGE_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define BRIDGE_POISON(address, size) ((void)(address), (void)(size))
#define BRIDGE_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

inline quint32 rawAddress(const char *text)
{
    return qToBigEndian(QHostAddress(QLatin1String(text)).toIPv4Address());
}

inline QString addressText(quint32 raw)
{
    return QHostAddress(qFromBigEndian(raw)).toString();
}

inline QByteArray macBytes(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(':', ""));
}

inline Wire::MacAddress macAddress(const char *text)
{
    const QByteArray bytes = macBytes(text);
    Wire::MacAddress mac{};
    std::copy(bytes.cbegin(), bytes.cbegin() + int(mac.size()), mac.begin());
    return mac;
}

// One frame file under tests/data/bridge: hex bytes, '#' lines are notes.
inline QByteArray bridgeFrame(const QString &name)
{
    QFile file(QStringLiteral(TARNWICK_TEST_DATA "/bridge/") + name + QStringLiteral(".hex"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        qFatal("cannot open golden frame %s", qPrintable(file.fileName()));
    QByteArray hex;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.startsWith('#'))
            hex += line;
    }
    return QByteArray::fromHex(hex);
}

// One send: where the frame went ("hotspot-wire", "internet-stack", ...) and its bytes.
struct SentFrame {
    QString where;
    QByteArray frame;
    bool packetGiven = false;
};

// Does what the engine's send routine does with a whole frame (the route into the direction
// word, the handle override for one send) and records where the frame went.
class RecordingSender : public FrameSender
{
public:
    RecordingSender(AdapterHandle hotspot, AdapterHandle internet)
        : m_hotspot(hotspot), m_internet(internet)
    {
    }

    void send(PacketRequest &request, SendRoute route, AdapterHandle adapter,
              const IPv4View *packet) override
    {
        ++m_count;
        if (route != SendRoute::Same)
            request.buffer->direction = quint32(route);
        if (!m_recording)
            return;
        const AdapterHandle target = adapter != 0 ? adapter : request.adapter;
        const QString side = target == m_hotspot ? QStringLiteral("hotspot")
                           : target == m_internet ? QStringLiteral("internet")
                                                  : QStringLiteral("unknown");
        const QString way = request.buffer->direction == PacketFromStack ? QStringLiteral("wire")
                                                                         : QStringLiteral("stack");
        m_sends.append(SentFrame{side + QLatin1Char('-') + way,
                                 QByteArray(reinterpret_cast<const char *>(request.buffer->frame),
                                            int(std::min<quint32>(request.buffer->length, kMaxFrameSize))),
                                 packet != nullptr});
    }

    // Off: sends are only counted (nothing is allocated on the way).
    void setRecording(bool on) { m_recording = on; }
    int count() const { return m_count; }

    QVector<SentFrame> take()
    {
        QVector<SentFrame> sends;
        sends.swap(m_sends);
        return sends;
    }

private:
    AdapterHandle m_hotspot;
    AdapterHandle m_internet;
    bool m_recording = true;
    int m_count = 0;
    QVector<SentFrame> m_sends;
};

// The hotspot adapter (02:00:00:00:01:01) and the Internet-side adapter (02:00:00:00:02:02,
// the host's address 198.51.100.2) of one bridged segment whose gateway is 198.51.100.1 at
// 02:00:00:00:02:fe. Each engine has its own two frame buffers, as the engine threads do.
class BridgeBench
{
public:
    enum Engine { Hotspot, Internet }; // the private and the public engine

    static constexpr AdapterHandle kHotspotHandle = 0x11;
    static constexpr AdapterHandle kInternetHandle = 0x22;

    BridgeBench(int hotspotKind, int internetKind, bool gatewayKnown = true)
        : m_users(&m_clock), m_sender(kHotspotHandle, kInternetHandle)
    {
        if (gatewayKnown)
            m_users.setGatewayMac(macBytes("02:00:00:00:02:fe"));
        const AdapterBinding hotspot{kHotspotHandle, 0, // bridge mode gives the hotspot no address
                                     macAddress("02:00:00:00:01:01"), 1500};
        const AdapterBinding internet{kInternetHandle, rawAddress("198.51.100.2"),
                                      macAddress("02:00:00:00:02:02"), 1500};
        for (auto &buffer : m_buffers)
            buffer = std::make_unique<PacketBuffer>();
        m_requests[0] = PacketRequest{kHotspotHandle, m_buffers[0].get()};
        m_requests[1] = PacketRequest{kInternetHandle, m_buffers[1].get()};
        m_requests[2] = PacketRequest{kInternetHandle, m_buffers[2].get()};
        m_requests[3] = PacketRequest{kHotspotHandle, m_buffers[3].get()};
        m_forwarders[Hotspot] = BridgeForwarder::create(
            context(1, hotspotKind, internetKind, hotspot, internet, &m_requests[1]));
        m_forwarders[Internet] = BridgeForwarder::create(
            context(0, internetKind, hotspotKind, internet, hotspot, &m_requests[3]));
    }

    // Hands one frame to the engine as its driver would read it: from the wire, or sent by
    // the host's stack. With `poison` set, the bytes behind the frame in both of the
    // engine's buffers are unreadable (under AddressSanitizer) while it decides.
    QVector<SentFrame> run(Engine engine, bool fromHost, const QByteArray &frame,
                           bool poison = true)
    {
        PacketBuffer &read = *m_requests[engine == Hotspot ? 0 : 2].buffer;
        read = PacketBuffer{};
        std::memcpy(read.frame, frame.constData(),
                    std::min<std::size_t>(std::size_t(frame.size()), kMaxFrameSize));
        return runBuffer(engine, fromHost, quint32(frame.size()), poison);
    }

    // The same with the length word as given (which may lie about the frame).
    QVector<SentFrame> runBuffer(Engine engine, bool fromHost, quint32 length, bool poison = true)
    {
        PacketRequest &read = m_requests[engine == Hotspot ? 0 : 2];
        PacketRequest &copy = m_requests[engine == Hotspot ? 1 : 3];
        read.buffer->length = length;
        read.buffer->direction = fromHost ? PacketFromStack : PacketFromWire;
        const std::size_t valid = std::min<std::size_t>(length, kMaxFrameSize);
        if (poison) {
            BRIDGE_POISON(read.buffer->frame + valid, kMaxFrameSize - valid);
            BRIDGE_POISON(copy.buffer->frame + valid, kMaxFrameSize - valid);
        }
        m_forwarders[engine]->handle(read);
        if (poison) {
            BRIDGE_UNPOISON(read.buffer->frame + valid, kMaxFrameSize - valid);
            BRIDGE_UNPOISON(copy.buffer->frame + valid, kMaxFrameSize - valid);
        }
        return m_sender.take();
    }

    UpTime &clock() { return m_clock; }
    ARPTable &users() { return m_users; }
    ARPProxy &proxy() { return m_proxy; }
    RecordingSender &sender() { return m_sender; }

private:
    ForwarderContext context(int direction, int ownKind, int otherKind, const AdapterBinding &own,
                             const AdapterBinding &other, PacketRequest *copy)
    {
        ForwarderContext context;
        context.mode = 1;
        context.direction = direction;
        context.ownKind = ownKind;
        context.otherKind = otherKind;
        context.own = own;
        context.other = other;
        context.sender = &m_sender;
        context.copy = copy;
        context.users = &m_users;
        context.proxy = &m_proxy;
        context.clock = &m_clock;
        return context;
    }

    UpTime m_clock;
    ARPTable m_users;
    ARPProxy m_proxy;
    RecordingSender m_sender;
    // Hotspot engine: read, copy; Internet engine: read, copy.
    std::unique_ptr<PacketBuffer> m_buffers[4];
    PacketRequest m_requests[4]{};
    std::unique_ptr<Forwarder> m_forwarders[2];
};
