// SPDX-License-Identifier: GPL-3.0-or-later
// ByteView: a bounds-checked window on wire bytes; every header view reads through it.
#pragma once

#include "engine/wire.h"

#include <QByteArray>
#include <QtEndian>
#include <QtGlobal>
#include <cstddef>
#include <cstring>

// A non-owning window of `size()` bytes. Every read and write checks that the field lies
// inside the window: a read outside yields 0 (an empty MAC), a write outside changes nothing
// and returns false. The header views validate their fixed fields when they are built, so
// on a valid view these checks never fire; they are the last line against a lying length.
// A default-constructed view is empty and null (`isNull()`), which is how a failed slice or
// parse is reported.
class ByteView
{
public:
    constexpr ByteView() = default;
    constexpr ByteView(quint8 *data, std::size_t size)
        : m_data(data), m_size(data ? size : 0)
    {
    }
    // The whole array (detaches it); the view is valid until the array is resized or freed.
    static ByteView of(QByteArray &array)
    {
        return ByteView(reinterpret_cast<quint8 *>(array.data()),
                        static_cast<std::size_t>(array.size()));
    }

    bool isNull() const { return m_data == nullptr; }
    quint8 *data() const { return m_data; }
    std::size_t size() const { return m_size; }

    // True when [offset, offset + width) lies inside the window.
    bool contains(std::size_t offset, std::size_t width) const
    {
        return width <= m_size && offset <= m_size - width;
    }
    // The sub-window [offset, offset + width), or a null view when it does not fit.
    ByteView slice(std::size_t offset, std::size_t width) const
    {
        return contains(offset, width) ? ByteView(m_data + offset, width) : ByteView();
    }
    // Everything from offset to the end, or a null view when offset lies beyond the end.
    ByteView from(std::size_t offset) const
    {
        return offset <= m_size && m_data ? ByteView(m_data + offset, m_size - offset)
                                          : ByteView();
    }

    quint8 u8(std::size_t offset) const { return contains(offset, 1) ? m_data[offset] : 0; }
    bool setU8(std::size_t offset, quint8 value)
    {
        if (!contains(offset, 1))
            return false;
        m_data[offset] = value;
        return true;
    }

    // A big-endian 16-bit field as a host-order number (lengths, fragment field, checksums).
    quint16 be16(std::size_t offset) const
    {
        return contains(offset, 2) ? qFromBigEndian<quint16>(m_data + offset) : 0;
    }
    bool setBe16(std::size_t offset, quint16 value)
    {
        if (!contains(offset, 2))
            return false;
        qToBigEndian<quint16>(value, m_data + offset);
        return true;
    }

    // 16- and 32-bit fields exactly as they lie in memory (network order: ports, addresses).
    quint16 raw16(std::size_t offset) const { return load<quint16>(offset); }
    bool setRaw16(std::size_t offset, quint16 value) { return store(offset, value); }
    quint32 raw32(std::size_t offset) const { return load<quint32>(offset); }
    bool setRaw32(std::size_t offset, quint32 value) { return store(offset, value); }

    Wire::MacAddress mac(std::size_t offset) const
    {
        Wire::MacAddress mac{};
        if (contains(offset, mac.size()))
            std::memcpy(mac.data(), m_data + offset, mac.size());
        return mac;
    }
    bool setMac(std::size_t offset, const Wire::MacAddress &mac)
    {
        if (!contains(offset, mac.size()))
            return false;
        std::memcpy(m_data + offset, mac.data(), mac.size());
        return true;
    }

private:
    template<typename T>
    T load(std::size_t offset) const
    {
        T value = 0;
        if (contains(offset, sizeof(T)))
            std::memcpy(&value, m_data + offset, sizeof(T));
        return value;
    }
    template<typename T>
    bool store(std::size_t offset, T value)
    {
        if (!contains(offset, sizeof(T)))
            return false;
        std::memcpy(m_data + offset, &value, sizeof(T));
        return true;
    }

    quint8 *m_data = nullptr;
    std::size_t m_size = 0;
};
