// SPDX-License-Identifier: GPL-3.0-or-later
// The packet driver's tc programs, built as instruction arrays and loaded into the kernel.
#pragma once

#include "platform/linux/ownedfd.h"

#include <linux/bpf.h>

#include <cstdint>
#include <vector>

class FrameRing;
class KernelBtf;

namespace BpfPrograms {

// Program for an adapter's ingress or egress hook: a frame carrying the driver's mark is
// one the driver re-injected; its mark is cleared and it goes on as if the hook were
// absent. Every other frame is redirected to the TAP `tapIfindex` (queued for the engine).
std::vector<bpf_insn> adapterHook(int tapIfindex);

// Where a program finds the kernel's own record of a frame and its checksum state: the
// kfunc that turns the program's context into the kernel's struct sk_buff, and the byte and
// bit position of its ip_summed field. valid is false when the kernel lacks either.
struct ChecksumProbe {
    bool valid = false;
    std::int32_t castFunctionId = 0;
    std::int16_t byteOffset = 0;
    std::uint8_t shift = 0;
};
ChecksumProbe checksumProbe(const KernelBtf &btf);

// Adapter hook that fills a frame ring (see FrameRing): marked frames pass as in
// adapterHook(); a frame of 1 to kMaxFrameSize bytes whose checksums are complete is
// copied into a record of the ring `ringFd` and consumed. Everything else (larger frames
// such as GSO frames, frames the kernel still has to checksum, a full ring, a failed copy)
// is redirected to the TAP `tapIfindex` as in adapterHook(), whose transmit path segments
// and checksums them. A full ring raises the ring's spill word, and while it is up every
// frame takes the TAP, so that none overtakes the overflow.
std::vector<bpf_insn> adapterRingHook(int tapIfindex, const FrameRing &ring, const ChecksumProbe &probe);

// Program for a TAP's ingress hook (frames the driver writes into the TAP): marks the
// frame and redirects it to adapter `adapterIfindex`, onto its wire (`intoStack` false) or
// up into the host's stack as if received there (`intoStack` true).
std::vector<bpf_insn> tapHook(int adapterIfindex, bool intoStack);

// Loads a program of type sched_cls; an invalid descriptor on failure (the reason, with
// the verifier's log when there is one, goes to the warning log).
OwnedFd load(const std::vector<bpf_insn> &program, const char *what);

} // namespace BpfPrograms
