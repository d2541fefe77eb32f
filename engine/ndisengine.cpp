// SPDX-License-Identifier: GPL-3.0-or-later
// NDISEngine: one engine thread, bound to one driver adapter, deciding every frame it reads.
#include "engine/ndisengine.h"

#include "engine/fragmenter.h"
#include "engine/frameview.h"

#include <QHash>
#include <QtEndian>
#include <cstring>

namespace {

constexpr const char *kDriverName = "TRNWICK";
constexpr int kPurgeIntervalMs = 15000;

QString adapterName(const char *raw)
{
    QString name = QString::fromLocal8Bit(raw, int(qstrnlen(raw, PacketDriver::kAdapterNameSize)));
    return name.remove(QLatin1String(PacketDriver::kAdapterNamePrefix), Qt::CaseSensitive);
}

QHash<QString, AdapterBinding> bindingTable(CNdisApi &driver)
{
    QHash<QString, AdapterBinding> table;
    auto list = std::make_unique<PacketDriver::AdapterList>();
    std::memset(list.get(), 0, sizeof *list);
    if (!driver.getAdapterList(*list))
        return table;
    const quint32 count = qMin<quint32>(list->count, PacketDriver::kMaxAdapters);
    for (quint32 i = 0; i < count; ++i) {
        AdapterBinding binding;
        binding.handle = list->handles[i];
        std::memcpy(binding.mac.data(), list->macs[i], PacketDriver::kMacSize);
        binding.mtu = list->mtus[i];
        table.insert(adapterName(list->names[i]), binding);
    }
    return table;
}

quint32 networkOrder(const QHostAddress &address)
{
    return qToBigEndian(address.toIPv4Address());
}

} // namespace

NDISEngine::NDISEngine(int mode, const QHostAddress &ownAddress, const QHostAddress &otherAddress,
                       const NetworkInterface &ownInterface, const NetworkInterface &otherInterface,
                       int direction, ARPTable *users, ARPProxy *proxy, NATService *translator,
                       UpTime *clock, ForwarderFactory forwarders)
    : m_mode(mode)
    , m_ownAddress(ownAddress)
    , m_otherAddress(otherAddress)
    , m_ownInterface(ownInterface)
    , m_otherInterface(otherInterface)
    , m_direction(direction)
    , m_users(users)
    , m_proxy(proxy)
    , m_translator(translator)
    , m_clock(clock)
    , m_forwarders(std::move(forwarders))
    , m_driver(kDriverName)
    , m_reassembler(clock)
    , m_buffers(new PacketBuffer[2])
{
    connect(&m_purgeTimer, &QTimer::timeout, this, &NDISEngine::timeout);
    m_purgeTimer.setSingleShot(true);
    m_purgeTimer.start(kPurgeIntervalMs);
}

NDISEngine::~NDISEngine()
{
    m_purgeTimer.stop();
    requestStop();
    wait();
}

void NDISEngine::requestStop()
{
    m_stopEvent.set();
}

quint32 NDISEngine::adapterMode(int mode, int direction, int ownKind)
{
    using namespace PacketDriver;
    if (mode == 1)
        return ownKind == NetworkInterface::Ethernet ? ModeFromStack | ModeFromWire | ModeBridgeExtra
                                                     : ModeFromStack | ModeFromWire;
    return direction == 1 ? ModeFromStack | ModeFromWire : ModeFromWire;
}

quint32 NDISEngine::receiveFilter(int mode, int ownKind)
{
    using namespace PacketDriver;
    return mode == 1 && ownKind == NetworkInterface::Ethernet ? FilterPromiscuous : FilterNormal;
}

bool NDISEngine::bind()
{
    const QHash<QString, AdapterBinding> table = bindingTable(m_driver);
    const auto own = table.constFind(m_ownInterface.name());
    const auto other = table.constFind(m_otherInterface.name());
    if (own == table.cend() || other == table.cend())
        return false;
    m_own = *own;
    m_other = *other;
    m_own.address = networkOrder(m_ownAddress);
    m_other.address = networkOrder(m_otherAddress);
    return true;
}

void NDISEngine::run()
{
    if (!bind() || !m_stopEvent.isValid() || !m_packetEvent.isValid())
        return;
    m_driver.setPacketEvent(m_own.handle, m_packetEvent.nativeHandle());
    const int ownKind = m_ownInterface.type();
    m_driver.setPacketFilter(m_own.handle, receiveFilter(m_mode, ownKind));
    m_driver.setAdapterMode(m_own.handle, adapterMode(m_mode, m_direction, ownKind));

    std::memset(m_buffers.get(), 0, 2 * sizeof(PacketBuffer));
    m_read = PacketRequest{m_own.handle, &m_buffers[0]};
    m_copy = PacketRequest{m_other.handle, &m_buffers[1]};

    ForwarderContext context;
    context.mode = m_mode;
    context.direction = m_direction;
    context.ownKind = ownKind;
    context.otherKind = m_otherInterface.type();
    context.own = m_own;
    context.other = m_other;
    context.sender = this;
    context.copy = &m_copy;
    context.reassembler = &m_reassembler;
    context.users = m_users;
    context.proxy = m_proxy;
    context.translator = m_translator;
    context.clock = m_clock;
    const std::unique_ptr<Forwarder> forwarder = m_forwarders(context);

    while (WaitEvent::waitAny(m_stopEvent, m_packetEvent) == WaitEvent::SecondSignalled) {
        m_packetEvent.reset();
        drain(*forwarder);
    }
    shutdown();
}

// Resetting before the drain loses nothing: whatever is queued after the last empty read
// keeps the event signalled through the driver's tie to the queue.
void NDISEngine::drain(Forwarder &forwarder)
{
    while (m_driver.readPacket(m_read))
        forwarder.handle(m_read);
}

void NDISEngine::shutdown()
{
    m_driver.setPacketEvent(m_own.handle, kNullEventHandle);
    m_driver.setAdapterMode(m_own.handle, PacketDriver::ModeOff);
    m_driver.flushAdapterQueue(m_own.handle);
}

void NDISEngine::timeout()
{
    m_purgeTimer.start(m_reassembler.purge());
}

void NDISEngine::send(PacketRequest &request, SendRoute route, AdapterHandle adapter,
                      const IPv4View *packet)
{
    if (route != SendRoute::Same)
        request.buffer->direction = quint32(route);
    const AdapterHandle original = request.adapter;
    if (adapter != 0)
        request.adapter = adapter;
    if (packet)
        sendFragments(request, *packet);
    else
        sendFrame(request);
    request.adapter = original;
}

void NDISEngine::sendFragments(PacketRequest &request, const IPv4View &packet)
{
    const std::size_t mtu = request.adapter == m_own.handle ? m_own.mtu : m_other.mtu;
    Fragmenter fragments(packet, mtu);
    while (fragments.next(*request.buffer))
        sendFrame(request);
}

void NDISEngine::sendFrame(const PacketRequest &request)
{
    if (request.buffer->direction == PacketFromStack)
        m_driver.sendPacketToAdapter(request);
    else
        m_driver.sendPacketToStack(request);
}

QList<NetworkInterface> NDISEngine::boundInterfaces()
{
    CNdisApi driver(kDriverName);
    auto list = std::make_unique<PacketDriver::AdapterList>();
    std::memset(list.get(), 0, sizeof *list);
    QList<NetworkInterface> bound;
    if (!driver.getAdapterList(*list))
        return bound;
    const QList<NetworkInterface> host = NetworkInterface::interfaces(255);
    const quint32 count = qMin<quint32>(list->count, PacketDriver::kMaxAdapters);
    for (quint32 i = 0; i < count; ++i) {
        const NetworkInterface match = NetworkInterface::findByName(adapterName(list->names[i]), host);
        if (match.isValid())
            bound.append(match);
    }
    return bound;
}
