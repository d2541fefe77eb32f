// SPDX-License-Identifier: GPL-3.0-or-later
// A tc program attached to an interface hook for as long as the link object lives.
#include "platform/linux/tcxlink.h"

#include <QLoggingCategory>

#include <linux/bpf.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

Q_LOGGING_CATEGORY(lcTcx, "tarnwick.driver.tcx")

// Attach types and flags of the tcx hooks (kernel 6.6 and later); the uapi headers of the
// distribution we build on predate them.
constexpr std::uint32_t kTcxIngress = 46;
constexpr std::uint32_t kTcxEgress = 47;
constexpr std::uint32_t kAttachBefore = 1u << 3; // with no anchor: first on the hook

int createLink(int programFd, int ifindex, std::uint32_t attachType, std::uint32_t flags)
{
    bpf_attr attr;
    std::memset(&attr, 0, sizeof attr);
    attr.link_create.prog_fd = static_cast<std::uint32_t>(programFd);
    attr.link_create.target_ifindex = static_cast<std::uint32_t>(ifindex);
    attr.link_create.attach_type = attachType;
    attr.link_create.flags = flags;
    return static_cast<int>(syscall(__NR_bpf, BPF_LINK_CREATE, &attr, sizeof attr));
}

} // namespace

TcxLink::TcxLink(int programFd, int ifindex, Hook hook)
{
    const std::uint32_t type = hook == Ingress ? kTcxIngress : kTcxEgress;
    int fd = createLink(programFd, ifindex, type, kAttachBefore);
    if (fd < 0 && errno == EINVAL)
        fd = createLink(programFd, ifindex, type, 0);
    if (fd < 0) {
        qCWarning(lcTcx, "cannot attach to the %s hook of interface %d: %s",
                  hook == Ingress ? "ingress" : "egress", ifindex, std::strerror(errno));
        return;
    }
    m_link = OwnedFd(fd);
}
