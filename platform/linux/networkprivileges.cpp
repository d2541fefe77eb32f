// SPDX-License-Identifier: GPL-3.0-or-later
// Whether this process may change the host's network configuration: its effective capabilities.
#include "platform/networkprivileges.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Capability numbers of the kernel interface (CAP_BPF is newer than some headers).
constexpr int kNetBindService = 10;
constexpr int kNetAdmin = 12;
constexpr int kNetRaw = 13;
constexpr int kBpf = 39;

bool effectiveCapabilities(quint64 *mask)
{
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    *mask = quint64(data[0].effective) | (quint64(data[1].effective) << 32);
    return true;
}

} // namespace

QStringList missingNetworkPrivileges()
{
    const struct {
        int number;
        const char *name;
    } needed[] = {{kNetAdmin, "CAP_NET_ADMIN"}, {kNetRaw, "CAP_NET_RAW"}, {kBpf, "CAP_BPF"},
                  {kNetBindService, "CAP_NET_BIND_SERVICE"}};
    quint64 mask = 0;
    const bool known = effectiveCapabilities(&mask);
    QStringList missing;
    for (const auto &capability : needed)
        if (!known || !(mask & (quint64(1) << capability.number)))
            missing << QString::fromLatin1(capability.name);
    return missing;
}
