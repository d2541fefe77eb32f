// SPDX-License-Identifier: GPL-3.0-or-later
// A peer process's output read as it comes, line by line, for tests to wait on.
#pragma once

#include <QByteArray>

class QProcess;

// Keeps everything a process printed so far. Two ways to wait on it: next() hands out the
// lines one after another (each line once) and returns the first that matches; waitFor()
// looks for a text anywhere at or after an output position, so a test can ask for a run of
// several lines or for a line after a point it noted before. Both give up after their
// time, or at once when the process has ended and all it printed has been read.
class ProcessLines
{
public:
    enum class Channels {
        Both,          // standard output and standard error into one record
        StandardOutput // only standard output; what the process reports line by line
    };

    explicit ProcessLines(QProcess *process, Channels channels = Channels::Both);

    // The next line not handed out yet that contains `needle` and not `unwanted` (when
    // given); empty when none came in time.
    QByteArray next(const QByteArray &needle, int timeoutMs = 20000, const QByteArray &unwanted = QByteArray());
    // The position of `text` followed by a line end at or after `from`; -1 when it did not
    // come in time.
    int waitFor(const QByteArray &text, int timeoutMs, int from = 0);
    // Takes in what the process printed since the last look.
    void read();

    // Everything read so far.
    const QByteArray &seen() const { return m_seen; }
    QProcess *process() const { return m_process; }

private:
    // Waits up to `waitMs` for more output; false when none can come any more.
    bool readMore(int waitMs);

    QProcess *m_process;
    Channels m_channels;
    QByteArray m_seen;
    int m_handedOut = 0; // how much of m_seen next() has gone through
};
