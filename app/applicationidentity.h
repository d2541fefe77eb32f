// SPDX-License-Identifier: GPL-3.0-or-later
// The program's fixed identity: organisation, domain, name and version.
#pragma once

// Sets organisation name, organisation domain, application name and version on the
// application. Must run before the application object exists, because the single-instance
// key is derived from these values; the domain must never change for the same reason.
void setApplicationIdentity();
