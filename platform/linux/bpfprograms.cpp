// SPDX-License-Identifier: GPL-3.0-or-later
// The packet driver's tc programs, built as instruction arrays and loaded into the kernel.
//
// How this works: each program receives the frame's struct __sk_buff in r1 and returns a
// tc verdict in r0. bpf_redirect() returns TC_ACT_REDIRECT, so its result is returned as
// it is. Passing frames return TC_ACT_UNSPEC, which lets later programs on the same hook
// see them exactly as they would without us.
//
// The ring variant consumes a frame it copied into the ring by redirecting it to ifindex 0,
// which names no device: the kernel frees the frame and reports success to the sender.
// TC_ACT_SHOT would free it as well, but on the egress hook it reports a drop to the
// host's stack (the sender's sendmsg() fails with ENOBUFS and TCP sends the segment again).
// Frames with ip_summed == CHECKSUM_PARTIAL (sent by the host's stack or a veth peer with
// checksum offload) carry only a partial transport checksum; they take the TAP, whose
// transmit path completes it, like every frame larger than a PacketBuffer.
#include "platform/linux/bpfprograms.h"

#include "platform/linux/bpfinsn.h"
#include "platform/linux/drivernames.h"
#include "platform/linux/framering.h"
#include "platform/linux/kernelbtf.h"

#include <QLoggingCategory>

#include <linux/pkt_cls.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

Q_LOGGING_CATEGORY(lcBpf, "tarnwick.driver.bpf")

constexpr std::uint8_t R0 = 0, R1 = 1, R2 = 2, R3 = 3, R4 = 4, R6 = 6, R7 = 7, R8 = 8, R9 = 9;
constexpr std::int16_t kMarkOffset = offsetof(__sk_buff, mark);
constexpr std::int16_t kLengthOffset = offsetof(__sk_buff, len);
constexpr std::int32_t kChecksumPartial = 3; // CHECKSUM_PARTIAL in the kernel's ip_summed
constexpr std::int32_t kNoDevice = 0;       // redirect target that frees the frame
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

ChecksumProbe checksumProbe(const KernelBtf &btf)
{
    ChecksumProbe probe;
    std::uint32_t bits = 0;
    const std::int64_t bit = btf.memberBitOffset("sk_buff", "ip_summed", &bits);
    const std::int32_t cast = btf.functionId("bpf_cast_to_kern_ctx");
    if (bit < 0 || cast <= 0 || bits != 2 || bit / 8 > 0x7fff || bit % 8 > 6)
        return probe;
    probe.valid = true;
    probe.castFunctionId = cast;
    probe.byteOffset = static_cast<std::int16_t>(bit / 8);
    probe.shift = static_cast<std::uint8_t>(bit % 8); // little-endian bit-field order
    return probe;
}

std::vector<bpf_insn> adapterRingHook(int tapIfindex, const FrameRing &ring, const ChecksumProbe &probe)
{
    using namespace BpfInsn;
    enum { NotOurs, ToTap, Discard, Spill };
    if (!probe.valid)
        return {};
    Code code;
    code << movReg(R6, R1)
         << loadWord(R2, R6, kMarkOffset);
    code.jump(jumpNotEqualImm(R2, kMark, 0), NotOurs);
    code << movImm(R3, 0)
         << storeWord(R6, kMarkOffset, R3) // ours: clear the mark and pass
         << movImm(R0, TC_ACT_UNSPEC)
         << exit();
    code.label(NotOurs)
        << loadWord(R7, R6, kLengthOffset); // bounds the copy for the verifier too
    code.jump(jumpImm(BPF_JLT, R7, 1, 0), ToTap);
    code.jump(jumpImm(BPF_JGT, R7, static_cast<std::int32_t>(kMaxFrameSize), 0), ToTap);
    code << movReg(R1, R6)
         << callKernelFunction(probe.castFunctionId)
         << loadByte(R2, R0, probe.byteOffset)
         << aluImm(BPF_RSH, R2, probe.shift)
         << aluImm(BPF_AND, R2, 3);
    code.jump(jumpImm(BPF_JEQ, R2, kChecksumPartial, 0), ToTap);
    code << loadMapValue(R9, ring.spillFd(), 0)
         << loadWord(R2, R9, 0);
    code.jump(jumpImm(BPF_JNE, R2, 0, 0), ToTap); // spilling: stay behind the overflow
    code << loadMap(R1, ring.fd())
         << movImm(R2, static_cast<std::int32_t>(FrameRing::kRecordPayloadSize))
         << movImm(R3, 0)
         << call(BPF_FUNC_ringbuf_reserve);
    code.jump(jumpImm(BPF_JEQ, R0, 0, 0), Spill); // ring full
    code << movReg(R8, R0)
         << movReg(R1, R6)
         << movImm(R2, 0)
         << movReg(R3, R8)
         << aluImm(BPF_ADD, R3, static_cast<std::int32_t>(FrameRing::kLengthWordSize))
         << movReg(R4, R7)
         << call(BPF_FUNC_skb_load_bytes);
    code.jump(jumpImm(BPF_JNE, R0, 0, 0), Discard);
    code << storeWord(R8, 0, R7) // the frame length word
         << movReg(R1, R8)
         << movImm(R2, 0)
         << call(BPF_FUNC_ringbuf_submit)
         << movImm(R1, kNoDevice) // consumed: freed with success
         << movImm(R2, 0)
         << call(BPF_FUNC_redirect)
         << exit();
    code.label(Discard)
        << movReg(R1, R8)
        << movImm(R2, 0)
        << call(BPF_FUNC_ringbuf_discard);
    code.jump(jump(0), ToTap);
    code.label(Spill)
        << movImm(R2, 1)
        << storeWord(R9, 0, R2);
    code.label(ToTap)
        << movImm(R1, tapIfindex)
        << movImm(R2, 0)
        << call(BPF_FUNC_redirect)
        << exit();
    return code.finish();
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
    if (program.empty()) {
        qCWarning(lcBpf, "the %s program could not be built", what);
        return OwnedFd();
    }
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
