// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a process id still names a running process.
#pragma once

#include <QtGlobal>

// True when `pid` names a process that exists and has not yet ended. A process that has
// ended but is still waiting to be reaped by its parent counts as ended. Processes of
// other users count as running. Non-positive ids never name a running process.
bool processIsRunning(qint64 pid);
