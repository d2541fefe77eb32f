// SPDX-License-Identifier: GPL-3.0-or-later
// A peer process's output read as it comes, line by line, for tests to wait on.
#include "tests/lab/processlines.h"

#include <QElapsedTimer>
#include <QProcess>

ProcessLines::ProcessLines(QProcess *process, Channels channels)
    : m_process(process)
    , m_channels(channels)
{
}

void ProcessLines::read()
{
    m_seen += m_process->readAllStandardOutput();
    if (m_channels == Channels::Both)
        m_seen += m_process->readAllStandardError();
}

bool ProcessLines::readMore(int waitMs)
{
    if (m_process->state() == QProcess::NotRunning) {
        // What it printed before it ended is still to be read once.
        const int before = m_seen.size();
        read();
        return m_seen.size() > before;
    }
    m_process->waitForReadyRead(waitMs);
    read();
    return true;
}

QByteArray ProcessLines::next(const QByteArray &needle, int timeoutMs, const QByteArray &unwanted)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        int newline;
        while ((newline = m_seen.indexOf('\n', m_handedOut)) >= 0) {
            const QByteArray line = m_seen.mid(m_handedOut, newline - m_handedOut);
            m_handedOut = newline + 1;
            if (line.contains(needle) && (unwanted.isEmpty() || !line.contains(unwanted)))
                return line;
        }
        if (timer.elapsed() > timeoutMs || !readMore(200))
            return {};
    }
}

int ProcessLines::waitFor(const QByteArray &text, int timeoutMs, int from)
{
    const QByteArray wanted = text + '\n';
    QElapsedTimer timer;
    timer.start();
    int at;
    while ((at = m_seen.indexOf(wanted, from)) < 0) {
        if (timer.elapsed() >= timeoutMs || !readMore(100))
            break;
    }
    return at;
}
