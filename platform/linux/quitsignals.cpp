// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT and SIGTERM delivered through a self-pipe to a socket notifier.
//
// How this works: a signal handler may only call async-signal-safe functions, so it writes
// the signal number as one byte into a non-blocking pipe; the read end is watched by a
// QSocketNotifier on the owner's thread, which emits quitRequested(). The handler reaches
// the pipe through the one process-wide descriptor below: a signal handler receives no
// context pointer, so this is the single piece of process-wide state the mechanism needs.
// It is claimed by at most one QuitSignals object at a time.
#include "platform/quitsignals.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<int> s_signalPipe{-1};

constexpr int kWatched[] = {SIGINT, SIGTERM};
constexpr int kWatchedCount = 2;

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = s_signalPipe.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

struct QuitSignals::PreviousHandlers {
    struct sigaction actions[kWatchedCount];
};

QuitSignals::QuitSignals(QObject *parent)
    : QObject(parent)
{
    static_assert(sizeof(kWatched) / sizeof(kWatched[0]) == kWatchedCount, "watched signals");
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    int expected = -1;
    if (!s_signalPipe.compare_exchange_strong(expected, fds[1])) {
        close(fds[0]);
        close(fds[1]);
        return;
    }
    m_readFd = fds[0];
    m_writeFd = fds[1];
    m_notifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::notifierActivated);

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_previous = std::make_unique<PreviousHandlers>();
    for (int i = 0; i < kWatchedCount; ++i)
        sigaction(kWatched[i], &action, &m_previous->actions[i]);
    m_active = true;
}

QuitSignals::~QuitSignals()
{
    if (!m_active)
        return;
    for (int i = 0; i < kWatchedCount; ++i)
        sigaction(kWatched[i], &m_previous->actions[i], nullptr);
    s_signalPipe.store(-1);
    delete m_notifier;
    close(m_readFd);
    close(m_writeFd);
}

bool QuitSignals::isActive() const
{
    return m_active;
}

void QuitSignals::notifierActivated()
{
    unsigned char byte = 0;
    while (read(m_readFd, &byte, 1) == 1)
        emit quitRequested(byte);
}
