// SPDX-License-Identifier: GPL-3.0-or-later
// A router-mode engine pair without a driver: real tables, a recording send routine.
#pragma once

#include "app/uptime.h"
#include "engine/arptable.h"
#include "engine/forwarder.h"
#include "engine/fragmenter.h"
#include "engine/framesender.h"
#include "engine/natservice.h"
#include "engine/reassembler.h"
#include "engine/routerforwarder.h"

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QVector>
#include <QtEndian>
#include <memory>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define BENCH_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define BENCH_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define BENCH_POISON(address, size) ((void)(address), (void)(size))
#define BENCH_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

inline quint32 rawAddress(const char *text)
{
    return qToBigEndian(QHostAddress(QLatin1String(text)).toIPv4Address());
}

inline Wire::MacAddress macAddress(quint8 b4, quint8 b5)
{
    return Wire::MacAddress{0x02, 0x00, 0x00, 0x00, b4, b5};
}

inline QByteArray macBytes(const Wire::MacAddress &mac)
{
    return QByteArray(reinterpret_cast<const char *>(mac.data()), int(mac.size()));
}

// One frame file under tests/data/router: hex bytes, '#' lines are notes.
inline QByteArray routerFrame(const QString &name)
{
    QFile file(QStringLiteral(TARNWICK_TEST_DATA "/router/") + name + QStringLiteral(".hex"));
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

// One call of the send routine and the frames it put on the wire or into the stack.
struct SentFrames {
    SendRoute route = SendRoute::Same;
    AdapterHandle override = 0;
    bool packetGiven = false;
    quint32 direction = 0; // the buffer's direction word when it went
    QVector<QByteArray> frames;
};

// Does what the engine's send routine does (route into the direction word, the handle
// override for one send, fragmentation to the MTU of the adapter the frame goes to) and
// records the result instead of handing it to a driver.
class RecordingSender : public FrameSender
{
public:
    RecordingSender(AdapterHandle privateHandle, std::size_t privateMtu, AdapterHandle publicHandle,
                    std::size_t publicMtu)
        : m_privateHandle(privateHandle), m_privateMtu(privateMtu), m_publicHandle(publicHandle),
          m_publicMtu(publicMtu)
    {
    }

    void send(PacketRequest &request, SendRoute route, AdapterHandle adapter,
              const IPv4View *packet) override
    {
        SentFrames sent;
        sent.route = route;
        sent.override = adapter;
        sent.packetGiven = packet != nullptr;
        if (route != SendRoute::Same)
            request.buffer->direction = quint32(route);
        sent.direction = request.buffer->direction;
        const AdapterHandle target = adapter != 0 ? adapter : request.adapter;
        if (packet) {
            Fragmenter pieces(*packet, target == m_privateHandle ? m_privateMtu : m_publicMtu);
            while (pieces.next(*request.buffer))
                sent.frames.append(frameOf(*request.buffer));
        } else {
            sent.frames.append(frameOf(*request.buffer));
        }
        m_sends.append(sent);
    }

    QVector<SentFrames> take()
    {
        QVector<SentFrames> sends;
        sends.swap(m_sends);
        return sends;
    }

private:
    static QByteArray frameOf(const PacketBuffer &buffer)
    {
        return QByteArray(reinterpret_cast<const char *>(buffer.frame), int(buffer.length));
    }

    AdapterHandle m_privateHandle;
    std::size_t m_privateMtu;
    AdapterHandle m_publicHandle;
    std::size_t m_publicMtu;
    QVector<SentFrames> m_sends;
};

// The hotspot 192.168.51.0/24 behind 198.51.100.2, DNS server 203.0.113.53, the Internet
// side with an MTU of 1400. Frames are handed to either engine as the driver would read them.
class RouterBench
{
public:
    enum Side { Private, Public, Host }; // Host: the host's own frame on the hotspot adapter

    static constexpr AdapterHandle kPrivateHandle = 0x11;
    static constexpr AdapterHandle kPublicHandle = 0x22;
    static constexpr std::size_t kPrivateMtu = 1500;
    static constexpr std::size_t kPublicMtu = 1400;

    explicit RouterBench(bool gatewayKnown = true)
        : m_users(&m_clock), m_translator(&m_clock),
          m_sender(kPrivateHandle, kPrivateMtu, kPublicHandle, kPublicMtu),
          m_privateReassembly(&m_clock), m_publicReassembly(&m_clock),
          m_buffer(std::make_unique<PacketBuffer>())
    {
        m_translator.setSubnet(QHostAddress(QStringLiteral("192.168.51.0")),
                               QHostAddress(QStringLiteral("255.255.255.0")));
        m_translator.setPrivateGateway(QHostAddress(QStringLiteral("192.168.51.1")));
        m_translator.setDnsServer(QHostAddress(QStringLiteral("203.0.113.53")));
        if (gatewayKnown)
            m_users.setGatewayMac(macBytes(macAddress(0x02, 0xfe)));

        const AdapterBinding hotspot{kPrivateHandle, rawAddress("192.168.51.1"),
                                     macAddress(0x01, 0x01), kPrivateMtu};
        const AdapterBinding internet{kPublicHandle, rawAddress("198.51.100.2"),
                                      macAddress(0x02, 0x02), kPublicMtu};
        m_private = RouterForwarder::create(context(1, hotspot, internet, &m_privateReassembly));
        m_public = RouterForwarder::create(context(0, internet, hotspot, &m_publicReassembly));
    }

    // Hands one frame to the engine of its side. With `poison` set, the buffer bytes behind
    // the frame are made unreadable (under AddressSanitizer) while the engine decides, so a
    // read past the frame's length is reported.
    QVector<SentFrames> run(Side side, const QByteArray &frame, bool poison = false)
    {
        *m_buffer = PacketBuffer{};
        std::memcpy(m_buffer->frame, frame.constData(),
                    std::min<std::size_t>(std::size_t(frame.size()), kMaxFrameSize));
        return runBuffer(side, quint32(frame.size()), poison);
    }

    // The same with a length word as given (which may lie about the frame).
    QVector<SentFrames> runBuffer(Side side, quint32 length, bool poison = false)
    {
        m_buffer->length = length;
        m_buffer->direction = side == Host ? PacketFromStack : PacketFromWire;
        PacketRequest request{side == Public ? kPublicHandle : kPrivateHandle, m_buffer.get()};
        const std::size_t valid = std::min<std::size_t>(length, kMaxFrameSize);
        if (poison)
            BENCH_POISON(m_buffer->frame + valid, kMaxFrameSize - valid);
        (side == Public ? m_public : m_private)->handle(request);
        if (poison)
            BENCH_UNPOISON(m_buffer->frame + valid, kMaxFrameSize - valid);
        return m_sender.take();
    }

    UpTime &clock() { return m_clock; }
    ARPTable &users() { return m_users; }
    NATService &translator() { return m_translator; }

private:
    ForwarderContext context(int direction, const AdapterBinding &own, const AdapterBinding &other,
                             Reassembler *reassembler)
    {
        ForwarderContext context;
        context.mode = 0;
        context.direction = direction;
        context.ownKind = 1;
        context.otherKind = 1;
        context.own = own;
        context.other = other;
        context.sender = &m_sender;
        context.reassembler = reassembler;
        context.users = &m_users;
        context.translator = &m_translator;
        context.clock = &m_clock;
        return context;
    }

    UpTime m_clock;
    ARPTable m_users;
    NATService m_translator;
    RecordingSender m_sender;
    Reassembler m_privateReassembly;
    Reassembler m_publicReassembly;
    std::unique_ptr<PacketBuffer> m_buffer;
    std::unique_ptr<Forwarder> m_private;
    std::unique_ptr<Forwarder> m_public;
};
