// SPDX-License-Identifier: GPL-3.0-or-later
// The clock of a sharing run (seconds since start) and the sum of its traffic.
#pragma once

#include <QObject>
#include <QTimer>
#include <QtGlobal>

#include <atomic>

// Lives in the spot worker's thread, where its timer ticks once a second. Every time-out of
// the packet engine and the UPnP subsystem counts in these seconds, not in wall-clock time.
//
// seconds(), update() and snapshot() may be called from any thread without a lock: each
// value is one 32-bit atomic, never torn. The four values of one snapshot are read one after
// another and need not agree with each other. The counters wrap at 2^32.
//
// Stopped with everything zero after construction; stop() always resets, so every sharing
// run starts from zero and the counter reads 0 between runs.
class UpTime : public QObject
{
    Q_OBJECT

public:
    // The traffic totals of the current run.
    struct Totals {
        quint32 sentBytes = 0;
        quint32 receivedBytes = 0;
        quint32 sentPackets = 0;
        quint32 receivedPackets = 0;
    };

    // Direction reported for a frame that a user sent; every other value counts as received.
    static constexpr int SentDirection = 1;

    explicit UpTime(QObject *parent = nullptr);

    // Starts the one-second timer. Call from the thread the object lives in.
    void start();
    // Stops the timer and sets the seconds and all four totals to zero.
    void stop();

    quint32 seconds() const;
    // Counts one frame of `bytes` bytes, sent when `direction` is exactly 1, else received.
    void update(int direction, quint32 bytes);
    Totals snapshot() const;

signals:
    void changed(uint currentTime);

private slots:
    void timeout();

private:
    QTimer m_timer;
    std::atomic<quint32> m_seconds{0};
    std::atomic<quint32> m_sentBytes{0};
    std::atomic<quint32> m_receivedBytes{0};
    std::atomic<quint32> m_sentPackets{0};
    std::atomic<quint32> m_receivedPackets{0};
};
