// SPDX-License-Identifier: GPL-3.0-or-later
// Process liveness through kill(pid, 0) and the state field of /proc/<pid>/stat.
#include "platform/processliveness.h"

#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <limits>
#include <sys/types.h>

namespace {

// The state letter of /proc/<pid>/stat: "pid (comm) S ...". The command name may itself
// contain parentheses and spaces, so the state follows the last ')'.
char processState(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return '?';
    const QByteArray line = stat.read(4096);
    const int close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return '?';
    return line.at(close + 2);
}

} // namespace

bool processIsRunning(qint64 pid)
{
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return false;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        return false;
    // kill() also succeeds for zombies; those have ended all the same.
    const char state = processState(pid);
    return state != 'Z' && state != 'X';
}
