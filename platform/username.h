// SPDX-License-Identifier: GPL-3.0-or-later
// The login name of the user this process runs as.
#pragma once

#include <QString>

// Returns the login name of the process's effective user, or an empty string when the
// system cannot tell it (no password database entry, lookup failure).
QString effectiveUserName();
