// SPDX-License-Identifier: GPL-3.0-or-later
// Whether this process may change the host's network configuration.
#pragma once

#include <QStringList>

// Sharing needs to add addresses, attach packet filters, open raw and packet sockets and
// bind the DHCP port. The result names the privileges the process lacks (on Linux the
// capabilities CAP_NET_ADMIN, CAP_NET_RAW, CAP_BPF and CAP_NET_BIND_SERVICE, all held by
// root); empty when it has them all.
QStringList missingNetworkPrivileges();
