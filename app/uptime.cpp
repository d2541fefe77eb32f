// SPDX-License-Identifier: GPL-3.0-or-later
// The clock of a sharing run (seconds since start) and the sum of its traffic.
#include "app/uptime.h"

namespace {
constexpr int kTickMs = 1000;
constexpr auto kRelaxed = std::memory_order_relaxed;
} // namespace

UpTime::UpTime(QObject *parent)
    : QObject(parent)
    , m_timer(this)
{
    // A precise timer keeps its schedule from tick to tick, so the seconds do not drift.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &UpTime::timeout);
}

void UpTime::start()
{
    m_timer.start();
}

void UpTime::stop()
{
    m_timer.stop();
    m_seconds.store(0, kRelaxed);
    m_sentBytes.store(0, kRelaxed);
    m_receivedBytes.store(0, kRelaxed);
    m_sentPackets.store(0, kRelaxed);
    m_receivedPackets.store(0, kRelaxed);
}

quint32 UpTime::seconds() const
{
    return m_seconds.load(kRelaxed);
}

void UpTime::update(int direction, quint32 bytes)
{
    // Unsigned addition wraps at 2^32 by definition.
    if (direction == SentDirection) {
        m_sentBytes.fetch_add(bytes, kRelaxed);
        m_sentPackets.fetch_add(1, kRelaxed);
    } else {
        m_receivedBytes.fetch_add(bytes, kRelaxed);
        m_receivedPackets.fetch_add(1, kRelaxed);
    }
}

UpTime::Totals UpTime::snapshot() const
{
    Totals totals;
    totals.sentBytes = m_sentBytes.load(kRelaxed);
    totals.receivedBytes = m_receivedBytes.load(kRelaxed);
    totals.sentPackets = m_sentPackets.load(kRelaxed);
    totals.receivedPackets = m_receivedPackets.load(kRelaxed);
    return totals;
}

void UpTime::timeout()
{
    const quint32 now = m_seconds.fetch_add(1, kRelaxed) + 1;
    emit changed(now);
}
