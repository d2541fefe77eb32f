// SPDX-License-Identifier: GPL-3.0-or-later
// The packet driver's tc programs, built as instruction arrays and loaded into the kernel.
#pragma once

#include "platform/linux/ownedfd.h"

#include <linux/bpf.h>

#include <vector>

namespace BpfPrograms {

// Program for an adapter's ingress or egress hook: a frame carrying the driver's mark is
// one the driver re-injected; its mark is cleared and it goes on as if the hook were
// absent. Every other frame is redirected to the TAP `tapIfindex` (queued for the engine).
std::vector<bpf_insn> adapterHook(int tapIfindex);

// Program for a TAP's ingress hook (frames the driver writes into the TAP): marks the
// frame and redirects it to adapter `adapterIfindex`, onto its wire (`intoStack` false) or
// up into the host's stack as if received there (`intoStack` true).
std::vector<bpf_insn> tapHook(int adapterIfindex, bool intoStack);

// Loads a program of type sched_cls; an invalid descriptor on failure (the reason, with
// the verifier's log when there is one, goes to the warning log).
OwnedFd load(const std::vector<bpf_insn> &program, const char *what);

} // namespace BpfPrograms
