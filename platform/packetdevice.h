// SPDX-License-Identifier: GPL-3.0-or-later
// The packet filter driver's device as the program sees it: one control call per request.
#pragma once

#include <QtGlobal>
#include <cstddef>
#include <memory>
#include <type_traits>

class MutableBytes;

// A read-only view of one request record.
class ConstBytes
{
public:
    ConstBytes() = default;
    ConstBytes(const void *data, std::size_t size) : m_data(data), m_size(size) {}
    template<typename T, typename = std::enable_if_t<std::is_trivially_copyable<T>::value
                                                     && !std::is_same<T, ConstBytes>::value
                                                     && !std::is_same<T, MutableBytes>::value>>
    ConstBytes(const T &record) : m_data(&record), m_size(sizeof(T)) {}

    const void *data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    const void *m_data = nullptr;
    std::size_t m_size = 0;
};

// A writable view of one reply record.
class MutableBytes
{
public:
    MutableBytes() = default;
    MutableBytes(void *data, std::size_t size) : m_data(data), m_size(size) {}
    template<typename T, typename = std::enable_if_t<std::is_trivially_copyable<T>::value
                                                     && !std::is_const<T>::value
                                                     && !std::is_same<T, MutableBytes>::value
                                                     && !std::is_same<T, ConstBytes>::value>>
    MutableBytes(T &record) : m_data(&record), m_size(sizeof(T)) {}

    void *data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    void *m_data = nullptr;
    std::size_t m_size = 0;
};

// The driver's device. A device object is used from one thread at a time. What the driver
// sets up on behalf of a device object (adapter filtering, injection paths) belongs to that
// object and ends with it.
class PacketDevice
{
public:
    virtual ~PacketDevice() = default;

    // Issues one control request; true when the driver accepted and completed it. The
    // output record is written only on success.
    virtual bool control(quint32 code, ConstBytes in, MutableBytes out) = 0;

    // Opens the device of the named driver; nullptr when there is no such driver here.
    static std::unique_ptr<PacketDevice> open(const char *name);
};
