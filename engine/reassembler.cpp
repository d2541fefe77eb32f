// SPDX-License-Identifier: GPL-3.0-or-later
// Reassembler: the engine's IPv4 reassembly table, its purge rule and its reassembly buffer.
#include "engine/reassembler.h"

#include "app/uptime.h"
#include "engine/checksum.h"
#include "engine/wire.h"

#include <QMutexLocker>

#include <cstring>

namespace {

constexpr std::size_t kMaxHeaderSize = 0x0F * 4; // the header length field is four bits
constexpr std::size_t kMaxDatagramEnd = 0xFFFF;
constexpr quint32 kMaxPurgeSeconds = 15;

} // namespace

Reassembler::Reassembler(const UpTime *clock)
    : m_clock(clock), m_buffer(kMaxHeaderSize + kMaxPayload)
{
}

Reassembler::Result Reassembler::offer(const IPv4View &fragment)
{
    if (!fragment.valid())
        return {};
    const std::size_t payload = fragment.totalLength() - fragment.headerLength();
    const quint16 offset = fragment.fragmentOffset();
    const std::size_t end = std::size_t(offset) * Wire::kIPv4OffsetUnit + payload;
    if (end > kMaxDatagramEnd)
        return {};
    const Key key{fragment.source(), fragment.destination(), fragment.identification(),
                  fragment.protocol()};

    QMutexLocker lock(&m_mutex);
    Table::iterator entry = m_table.find(key);
    if (entry == m_table.end())
        entry = m_table.insert(key, ReassemblyEntry{});
    ReassemblyEntry &datagram = entry.value();

    const auto stored = datagram.fragments.find(offset);
    const std::size_t replaced = stored == datagram.fragments.end() ? 0 : stored->second.size();
    const std::size_t received = datagram.received - replaced + payload;
    if (received > kMaxPayload) {
        m_table.erase(entry);
        return {};
    }
    const ByteView bytes = fragment.payload();
    datagram.fragments[offset] = QByteArray(reinterpret_cast<const char *>(bytes.data()),
                                            int(bytes.size()));
    if (!fragment.moreFragments()) {
        datagram.lastSeen = true;
        datagram.expected = end;
    }
    datagram.received = received;
    datagram.expiry = m_clock->seconds() + kLifetimeSeconds;

    if (!datagram.lastSeen || datagram.received < datagram.expected)
        return {Outcome::Held, IPv4View()};
    return complete(entry, fragment);
}

Reassembler::Result Reassembler::complete(Table::iterator entry, const IPv4View &fragment)
{
    const ReassemblyEntry &datagram = entry.value();
    const std::size_t headerLength = fragment.headerLength();
    std::size_t position = 0;
    for (const auto &[offset, bytes] : datagram.fragments) {
        if (std::size_t(offset) * Wire::kIPv4OffsetUnit != position)
            break;
        position += std::size_t(bytes.size());
    }
    if (position != datagram.expected || datagram.received != datagram.expected
        || headerLength + position > m_buffer.size()) {
        m_table.erase(entry);
        return {};
    }

    std::memcpy(m_buffer.data(), fragment.header().data(), headerLength);
    std::size_t write = headerLength;
    for (const auto &fragmentBytes : datagram.fragments) {
        const QByteArray &bytes = fragmentBytes.second;
        std::memcpy(m_buffer.data() + write, bytes.constData(), std::size_t(bytes.size()));
        write += std::size_t(bytes.size());
    }
    m_table.erase(entry);

    ByteView packetBytes(m_buffer.data(), write);
    packetBytes.setBe16(Wire::kIPv4TotalLength, quint16(write));
    IPv4View packet(packetBytes);
    packet.setFlagsAndOffset(0);
    if (!Checksum::fillIPv4Header(packet))
        return {};
    return {Outcome::Complete, packet};
}

int Reassembler::purge()
{
    QMutexLocker lock(&m_mutex);
    const qint64 now = m_clock->seconds();
    qint64 smallest = 0;
    for (Table::iterator it = m_table.begin(); it != m_table.end();) {
        const qint64 remaining = qint64(it->expiry) - now;
        if (remaining <= 0) {
            it = m_table.erase(it);
            continue;
        }
        if (smallest == 0 || remaining < smallest)
            smallest = remaining;
        ++it;
    }
    if (smallest >= 1 && smallest <= kMaxPurgeSeconds)
        return int(smallest * 1000);
    return kDefaultPurgeIntervalMs;
}

int Reassembler::pendingCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_table.size();
}
