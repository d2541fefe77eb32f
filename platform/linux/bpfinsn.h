// SPDX-License-Identifier: GPL-3.0-or-later
// Builders for the few eBPF instructions the packet driver's programs use.
#pragma once

#include <linux/bpf.h>

#include <cstdint>
#include <utility>
#include <vector>

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

// dst = src (64-bit)
constexpr bpf_insn movReg(std::uint8_t dst, std::uint8_t src)
{
    return make(BPF_ALU64 | BPF_MOV | BPF_X, dst, src, 0, 0);
}

// dst <op>= imm (64-bit), e.g. BPF_ADD, BPF_AND, BPF_RSH
constexpr bpf_insn aluImm(std::uint8_t op, std::uint8_t dst, std::int32_t imm)
{
    return make(BPF_ALU64 | op | BPF_K, dst, 0, 0, imm);
}

// dst = *(u8 *)(src + off)
constexpr bpf_insn loadByte(std::uint8_t dst, std::uint8_t src, std::int16_t off)
{
    return make(BPF_LDX | BPF_MEM | BPF_B, dst, src, off, 0);
}

// if (dst <op> imm) pc += off, with op e.g. BPF_JEQ, BPF_JGT, BPF_JLT (unsigned)
constexpr bpf_insn jumpImm(std::uint8_t op, std::uint8_t dst, std::int32_t imm, std::int16_t off)
{
    return make(BPF_JMP | op | BPF_K, dst, 0, off, imm);
}

// dst = the map behind descriptor `mapFd` (two instruction slots; the kernel swaps in the map)
inline std::pair<bpf_insn, bpf_insn> loadMap(std::uint8_t dst, int mapFd)
{
    return {make(BPF_LD | BPF_DW | BPF_IMM, dst, BPF_PSEUDO_MAP_FD, 0, mapFd), make(0, 0, 0, 0, 0)};
}

// dst = address of byte `offset` in the value of the one-element array behind `mapFd`
inline std::pair<bpf_insn, bpf_insn> loadMapValue(std::uint8_t dst, int mapFd, std::int32_t offset)
{
    return {make(BPF_LD | BPF_DW | BPF_IMM, dst, BPF_PSEUDO_MAP_VALUE, 0, mapFd), make(0, 0, 0, 0, offset)};
}

// pc += off
constexpr bpf_insn jump(std::int16_t off)
{
    return make(BPF_JMP | BPF_JA, 0, 0, off, 0);
}

// Call of the kernel function whose BTF type id in vmlinux is `btfId`.
constexpr bpf_insn callKernelFunction(std::int32_t btfId)
{
    return make(BPF_JMP | BPF_CALL, 0, BPF_PSEUDO_KFUNC_CALL, 0, btfId);
}

constexpr bpf_insn call(std::int32_t helper)
{
    return make(BPF_JMP | BPF_CALL, 0, 0, 0, helper);
}

constexpr bpf_insn exit()
{
    return make(BPF_JMP | BPF_EXIT, 0, 0, 0, 0);
}

// A program under construction whose jumps name labels; finish() fills in the offsets.
class Code
{
public:
    Code &operator<<(const bpf_insn &insn)
    {
        m_code.push_back(insn);
        return *this;
    }
    Code &operator<<(const std::pair<bpf_insn, bpf_insn> &wide)
    {
        return *this << wide.first << wide.second;
    }
    // A jump instruction (its offset is ignored) that goes to `label`.
    Code &jump(const bpf_insn &insn, int label)
    {
        m_fixups.emplace_back(m_code.size(), label);
        return *this << insn;
    }
    Code &label(int label)
    {
        if (std::size_t(label) >= m_labels.size())
            m_labels.resize(std::size_t(label) + 1, kUnplaced);
        m_labels[std::size_t(label)] = m_code.size();
        return *this;
    }
    // The instructions; empty when a jump names a label that was never placed.
    std::vector<bpf_insn> finish() const
    {
        std::vector<bpf_insn> code = m_code;
        for (const auto &[at, label] : m_fixups) {
            if (std::size_t(label) >= m_labels.size() || m_labels[std::size_t(label)] == kUnplaced)
                return {};
            code[at].off = static_cast<std::int16_t>(std::int64_t(m_labels[std::size_t(label)]) - std::int64_t(at) - 1);
        }
        return code;
    }

private:
    static constexpr std::size_t kUnplaced = ~std::size_t(0);
    std::vector<bpf_insn> m_code;
    std::vector<std::pair<std::size_t, int>> m_fixups;
    std::vector<std::size_t> m_labels;
};

} // namespace BpfInsn
