// SPDX-License-Identifier: GPL-3.0-or-later
// Builders for the few eBPF instructions the packet driver's programs use.
#pragma once

#include <linux/bpf.h>

#include <cstdint>

namespace BpfInsn {

constexpr bpf_insn make(std::uint8_t code, std::uint8_t dst, std::uint8_t src, std::int16_t off, std::int32_t imm)
{
    bpf_insn insn{};
    insn.code = code;
    insn.dst_reg = dst & 0x0f;
    insn.src_reg = src & 0x0f;
    insn.off = off;
    insn.imm = imm;
    return insn;
}

// dst = imm (64-bit move of a sign-extended 32-bit immediate)
constexpr bpf_insn movImm(std::uint8_t dst, std::int32_t imm)
{
    return make(BPF_ALU64 | BPF_MOV | BPF_K, dst, 0, 0, imm);
}

// dst = *(u32 *)(src + off)
constexpr bpf_insn loadWord(std::uint8_t dst, std::uint8_t src, std::int16_t off)
{
    return make(BPF_LDX | BPF_MEM | BPF_W, dst, src, off, 0);
}

// *(u32 *)(dst + off) = src
constexpr bpf_insn storeWord(std::uint8_t dst, std::int16_t off, std::uint8_t src)
{
    return make(BPF_STX | BPF_MEM | BPF_W, dst, src, off, 0);
}

// if (dst != imm) pc += off
constexpr bpf_insn jumpNotEqualImm(std::uint8_t dst, std::int32_t imm, std::int16_t off)
{
    return make(BPF_JMP | BPF_JNE | BPF_K, dst, 0, off, imm);
}

constexpr bpf_insn call(std::int32_t helper)
{
    return make(BPF_JMP | BPF_CALL, 0, 0, 0, helper);
}

constexpr bpf_insn exit()
{
    return make(BPF_JMP | BPF_EXIT, 0, 0, 0, 0);
}

} // namespace BpfInsn
