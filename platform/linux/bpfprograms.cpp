// SPDX-License-Identifier: GPL-3.0-or-later
// The packet driver's tc programs, built as instruction arrays and loaded into the kernel.
//
// How this works: each program receives the frame's struct __sk_buff in r1 and returns a
// tc verdict in r0. bpf_redirect() returns TC_ACT_REDIRECT, so its result is returned as
// it is. Passing frames return TC_ACT_UNSPEC, which lets later programs on the same hook
// see them exactly as they would without us.
#include "platform/linux/bpfprograms.h"

#include "platform/linux/bpfinsn.h"
#include "platform/linux/drivernames.h"

#include <QLoggingCategory>

#include <linux/pkt_cls.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

Q_LOGGING_CATEGORY(lcBpf, "tarnwick.driver.bpf")

constexpr std::uint8_t R0 = 0, R1 = 1, R2 = 2, R3 = 3;
constexpr std::int16_t kMarkOffset = offsetof(__sk_buff, mark);
constexpr std::int32_t kMark = static_cast<std::int32_t>(DriverNames::kFrameMark);
static_assert(DriverNames::kFrameMark < 0x80000000u, "mark must fit a signed immediate");

std::uint64_t pointerValue(const void *p)
{
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p));
}

int loadWith(const std::vector<bpf_insn> &program, char *log, std::uint32_t logSize)
{
    static const char license[] = "GPL";
    bpf_attr attr;
    std::memset(&attr, 0, sizeof attr);
    attr.prog_type = BPF_PROG_TYPE_SCHED_CLS;
    attr.insn_cnt = static_cast<std::uint32_t>(program.size());
    attr.insns = pointerValue(program.data());
    attr.license = pointerValue(license);
    if (log) {
        attr.log_level = 1;
        attr.log_buf = pointerValue(log);
        attr.log_size = logSize;
    }
    return static_cast<int>(syscall(__NR_bpf, BPF_PROG_LOAD, &attr, sizeof attr));
}

} // namespace

namespace BpfPrograms {

std::vector<bpf_insn> adapterHook(int tapIfindex)
{
    using namespace BpfInsn;
    return {
        loadWord(R2, R1, kMarkOffset),
        jumpNotEqualImm(R2, kMark, 4),   // not ours: to the redirect
        movImm(R3, 0),
        storeWord(R1, kMarkOffset, R3),  // ours: clear the mark and pass
        movImm(R0, TC_ACT_UNSPEC),
        exit(),
        movImm(R1, tapIfindex),
        movImm(R2, 0),
        call(BPF_FUNC_redirect),
        exit(),
    };
}

std::vector<bpf_insn> tapHook(int adapterIfindex, bool intoStack)
{
    using namespace BpfInsn;
    return {
        movImm(R2, kMark),
        storeWord(R1, kMarkOffset, R2),
        movImm(R1, adapterIfindex),
        movImm(R2, intoStack ? BPF_F_INGRESS : 0),
        call(BPF_FUNC_redirect),
        exit(),
    };
}

OwnedFd load(const std::vector<bpf_insn> &program, const char *what)
{
    int fd = loadWith(program, nullptr, 0);
    if (fd >= 0)
        return OwnedFd(fd);
    const int firstError = errno;
    if (firstError == EPERM) {
        qCWarning(lcBpf, "loading the %s program needs CAP_BPF and CAP_NET_ADMIN", what);
        return OwnedFd();
    }
    // Load again with the verifier's log to say why.
    std::vector<char> log(64 * 1024, '\0');
    fd = loadWith(program, log.data(), static_cast<std::uint32_t>(log.size()));
    if (fd >= 0)
        return OwnedFd(fd);
    log.back() = '\0';
    qCWarning(lcBpf, "the kernel refused the %s program: %s; verifier: %s", what,
              std::strerror(firstError), log.data());
    return OwnedFd();
}

} // namespace BpfPrograms
