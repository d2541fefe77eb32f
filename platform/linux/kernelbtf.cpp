// SPDX-License-Identifier: GPL-3.0-or-later
// The running kernel's type information (BTF), read for the few facts the driver's programs need.
//
// How this works: the file is a btf_header, a type section and a string section. Types are
// numbered from 1 in the order they appear; each btf_type is followed by data whose size
// its kind and vlen decide. One pass records where each type starts, after which look-ups
// by name and member walks read the records in place. Every offset read from the file is
// checked against its section before use; a malformed file makes the object invalid.
#include "platform/linux/kernelbtf.h"

#include <QFile>

#include <fcntl.h>
#include <linux/btf.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace {

template <typename T>
bool readAt(const char *bytes, std::size_t size, std::uint64_t offset, T &out)
{
    if (offset + sizeof(T) > size)
        return false;
    std::memcpy(&out, bytes + offset, sizeof(T));
    return true;
}

// Bytes of kind-specific data after a btf_type; -1 for an unknown kind.
std::int64_t extraSize(std::uint32_t info)
{
    const std::uint32_t vlen = BTF_INFO_VLEN(info);
    switch (BTF_INFO_KIND(info)) {
    case BTF_KIND_INT: return 4;
    case BTF_KIND_ARRAY: return sizeof(btf_array);
    case BTF_KIND_STRUCT:
    case BTF_KIND_UNION: return std::int64_t(vlen) * sizeof(btf_member);
    case BTF_KIND_ENUM: return std::int64_t(vlen) * sizeof(btf_enum);
    case BTF_KIND_FUNC_PROTO: return std::int64_t(vlen) * sizeof(btf_param);
    case BTF_KIND_VAR: return sizeof(btf_var);
    case BTF_KIND_DATASEC: return std::int64_t(vlen) * sizeof(btf_var_secinfo);
    case BTF_KIND_DECL_TAG: return sizeof(btf_decl_tag);
    case BTF_KIND_ENUM64: return std::int64_t(vlen) * sizeof(btf_enum64);
    case BTF_KIND_PTR: case BTF_KIND_FWD: case BTF_KIND_TYPEDEF: case BTF_KIND_VOLATILE:
    case BTF_KIND_CONST: case BTF_KIND_RESTRICT: case BTF_KIND_FUNC: case BTF_KIND_FLOAT:
    case BTF_KIND_TYPE_TAG: return 0;
    default: return -1;
    }
}

} // namespace

KernelBtf::KernelBtf(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size > 0) {
        // Private and read-only: the kernel refuses shared or writable mappings of it.
        void *p = mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (p != MAP_FAILED) {
            m_mapping = p;
            m_bytes = static_cast<const char *>(p);
            m_size = std::size_t(st.st_size);
        }
    }
    if (fd >= 0)
        ::close(fd);
    if (!m_mapping) {
        QFile file(QString::fromLocal8Bit(path));
        if (!file.open(QIODevice::ReadOnly))
            return;
        m_copy = file.readAll();
        m_bytes = m_copy.constData();
        m_size = std::size_t(m_copy.size());
    }
    if (!parse())
        m_types.clear();
}

KernelBtf::~KernelBtf()
{
    if (m_mapping)
        munmap(m_mapping, m_size);
}

bool KernelBtf::parse()
{
    btf_header header;
    if (!readAt(m_bytes, m_size, 0, header) || header.magic != BTF_MAGIC || header.hdr_len < sizeof header)
        return false;
    const std::uint64_t typesStart = std::uint64_t(header.hdr_len) + header.type_off;
    const std::uint64_t typesEnd = typesStart + header.type_len;
    const std::uint64_t stringsStart = std::uint64_t(header.hdr_len) + header.str_off;
    if (typesEnd > std::uint64_t(m_size) || stringsStart + header.str_len > std::uint64_t(m_size))
        return false;
    m_typesStart = std::uint32_t(typesStart);
    m_stringsStart = std::uint32_t(stringsStart);
    m_stringsSize = header.str_len;
    m_types.reserve(header.type_len / (sizeof(btf_type) + 8)); // about the mean record size
    for (std::uint64_t at = typesStart; at < typesEnd;) {
        btf_type type;
        const std::int64_t extra = readAt(m_bytes, m_size, at, type) ? extraSize(type.info) : -1;
        if (extra < 0 || at + sizeof type + std::uint64_t(extra) > typesEnd)
            return false;
        m_types.push_back({std::uint32_t(at), type.info, type.name_off});
        at += sizeof type + std::uint64_t(extra);
    }
    return true;
}

const char *KernelBtf::name(std::uint32_t nameOff) const
{
    if (nameOff >= m_stringsSize)
        return "";
    const char *s = m_bytes + m_stringsStart + nameOff;
    // The section must hold the terminating zero.
    return std::memchr(s, '\0', m_stringsSize - nameOff) ? s : "";
}

std::int32_t KernelBtf::findNamed(std::uint32_t kind, const char *wanted) const
{
    for (std::size_t i = 0; i < m_types.size(); ++i)
        if (BTF_INFO_KIND(m_types[i].info) == kind && std::strcmp(name(m_types[i].nameOff), wanted) == 0)
            return std::int32_t(i + 1);
    return -1;
}

std::int32_t KernelBtf::functionId(const char *wanted) const
{
    return findNamed(BTF_KIND_FUNC, wanted);
}

std::uint32_t KernelBtf::skipQualifiers(std::uint32_t id) const
{
    for (int guard = 0; guard < 16 && id >= 1 && id <= m_types.size(); ++guard) {
        const Type &t = m_types[id - 1];
        const std::uint32_t kind = BTF_INFO_KIND(t.info);
        if (kind != BTF_KIND_TYPEDEF && kind != BTF_KIND_CONST && kind != BTF_KIND_VOLATILE
            && kind != BTF_KIND_RESTRICT && kind != BTF_KIND_TYPE_TAG)
            return id;
        btf_type record;
        if (!readAt(m_bytes, m_size, t.offset, record))
            return 0;
        id = record.type;
    }
    return 0;
}

std::int64_t KernelBtf::memberBitOffset(const char *structName, const char *member, std::uint32_t *bits) const
{
    const std::int32_t id = findNamed(BTF_KIND_STRUCT, structName);
    return id < 0 ? -1 : findMember(std::uint32_t(id), member, bits, 0);
}

std::int64_t KernelBtf::findMember(std::uint32_t structId, const char *wanted, std::uint32_t *bits, int depth) const
{
    if (depth > 8 || structId < 1 || structId > m_types.size())
        return -1;
    const Type &t = m_types[structId - 1];
    const std::uint32_t kind = BTF_INFO_KIND(t.info);
    if (kind != BTF_KIND_STRUCT && kind != BTF_KIND_UNION)
        return -1;
    const bool bitfieldLayout = BTF_INFO_KFLAG(t.info);
    for (std::uint32_t i = 0; i < BTF_INFO_VLEN(t.info); ++i) {
        btf_member m;
        if (!readAt(m_bytes, m_size, t.offset + sizeof(btf_type) + i * sizeof m, m))
            return -1;
        const std::uint32_t offset = bitfieldLayout ? BTF_MEMBER_BIT_OFFSET(m.offset) : m.offset;
        const std::uint32_t width = bitfieldLayout ? BTF_MEMBER_BITFIELD_SIZE(m.offset) : 0;
        if (m.name_off == 0) { // anonymous struct or union: its members are ours
            const std::int64_t inner = findMember(skipQualifiers(m.type), wanted, bits, depth + 1);
            if (inner >= 0)
                return offset + inner;
        } else if (std::strcmp(name(m.name_off), wanted) == 0) {
            if (bits)
                *bits = width;
            return offset;
        }
    }
    return -1;
}
