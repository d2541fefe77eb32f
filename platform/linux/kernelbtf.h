// SPDX-License-Identifier: GPL-3.0-or-later
// The running kernel's type information (BTF), read for the few facts the driver's programs need.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

// Maps /sys/kernel/btf/vmlinux (read as a copy where the kernel does not allow mapping it:
// some 5 MB at tens of milliseconds). Answers are -1 when the file, the type or the member
// is missing, so callers can fall back to programs that need none of it.
class KernelBtf
{
public:
    explicit KernelBtf(const QByteArray &path = QByteArrayLiteral("/sys/kernel/btf/vmlinux"));
    ~KernelBtf();
    KernelBtf(const KernelBtf &) = delete;
    KernelBtf &operator=(const KernelBtf &) = delete;

    bool isValid() const { return !m_types.empty(); }
    // Type id of the kernel function `name` (a kfunc a program may call).
    std::int32_t functionId(const char *name) const;
    // Bit offset of member `member` of struct `structName`, looking into anonymous
    // structs and unions; `bits` receives the bit-field width (0 for a whole member).
    std::int64_t memberBitOffset(const char *structName, const char *member, std::uint32_t *bits = nullptr) const;

private:
    struct Type {
        std::uint32_t offset; // of its btf_type in m_data
        std::uint32_t info;
        std::uint32_t nameOff;
    };
    bool parse();
    const char *name(std::uint32_t nameOff) const;
    std::int32_t findNamed(std::uint32_t kind, const char *name) const;
    std::uint32_t skipQualifiers(std::uint32_t id) const;
    std::int64_t findMember(std::uint32_t structId, const char *member, std::uint32_t *bits, int depth) const;

    void *m_mapping = nullptr;  // the file mapped, or
    QByteArray m_copy;          // the file read
    const char *m_bytes = nullptr;
    std::size_t m_size = 0;
    std::uint32_t m_typesStart = 0;
    std::uint32_t m_stringsStart = 0;
    std::uint32_t m_stringsSize = 0;
    std::vector<Type> m_types; // index = type id - 1
};
