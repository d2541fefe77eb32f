// SPDX-License-Identifier: GPL-3.0-or-later
// A minimal rtnetlink client: request building, bounds-checked message and attribute views.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <vector>

// How this works: a request is one netlink message (header, fixed family header,
// attributes) sent to the kernel on a NETLINK_ROUTE socket. A dump request is answered by
// datagrams holding any number of messages, ended by NLMSG_DONE; a change request with
// NLM_F_ACK by one NLMSG_ERROR message whose code is 0 on success. Every byte the kernel
// sends is read through ByteView, which never reads past the end of what was received:
// a message or attribute whose length field claims more than is there ends the parse.
namespace platform::rtnl {

// A read-only window on received bytes. Reads outside the window give no value.
class ByteView
{
public:
    ByteView() = default;
    ByteView(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const std::uint8_t *data() const { return m_data; }

    // The part [offset, offset + length); empty when it does not lie inside the window.
    ByteView sub(std::size_t offset, std::size_t length) const;
    ByteView from(std::size_t offset) const;

    template<typename T>
    std::optional<T> read(std::size_t offset) const
    {
        if (offset > m_size || m_size - offset < sizeof(T))
            return std::nullopt;
        T value;
        std::memcpy(&value, m_data + offset, sizeof(T));
        return value;
    }

    QByteArray toByteArray() const;

private:
    const std::uint8_t *m_data = nullptr;
    std::size_t m_size = 0;
};

// The attributes (struct rtattr sequence) of one message, by type; a later duplicate wins.
class AttributeTable
{
public:
    static AttributeTable parse(ByteView area);

    bool has(std::uint16_t type) const { return m_values.count(type) != 0; }
    ByteView get(std::uint16_t type) const;
    // A 32-bit value; no value unless the attribute holds at least four bytes.
    std::optional<std::uint32_t> u32(std::uint16_t type) const;
    // An IPv4 address in network order turned into host order; needs exactly four bytes.
    std::optional<std::uint32_t> ipv4(std::uint16_t type) const;
    // A text attribute up to its first zero byte.
    QString string(std::uint16_t type) const;

private:
    std::map<std::uint16_t, ByteView> m_values;
};

// One message of a reply: its type and everything after the netlink header.
struct Message {
    std::uint16_t type = 0;
    std::uint16_t flags = 0;
    std::uint32_t sequence = 0;
    ByteView payload;
};

// Splits one received datagram into its messages. `complete` turns false when a header
// is malformed (the messages before it are still returned).
std::vector<Message> splitMessages(ByteView datagram, bool *complete);

// Builds one request message.
class Request
{
public:
    explicit Request(std::uint16_t type, std::uint16_t flags = 0);

    template<typename T>
    void fixedHeader(const T &header) { append(&header, sizeof header); }
    void attribute(std::uint16_t type, const void *data, std::size_t size);
    void attributeIpv4(std::uint16_t type, std::uint32_t hostOrderAddress);

    // The finished message with its length, sequence number and extra flags filled in.
    QByteArray finish(std::uint32_t sequence, std::uint16_t extraFlags = 0) const;

private:
    void append(const void *data, std::size_t size);
    void pad();

    std::vector<std::uint8_t> m_bytes;
};

// A NETLINK_ROUTE socket. Replies are taken only from the kernel and only with the
// sequence number of the request; receives time out after two seconds.
class Socket
{
public:
    Socket();
    ~Socket();
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    bool isOpen() const { return m_fd >= 0; }

    // Sends a dump request (NLM_F_REQUEST and NLM_F_DUMP are added) and hands every reply message of type `replyType` to
    // `handler`. False when the request could not be made or the reply was broken.
    bool dump(const Request &request, std::uint16_t replyType,
              const std::function<void(ByteView payload)> &handler);

    // Sends a change request (NLM_F_REQUEST and NLM_F_ACK are added) and returns the kernel's answer:
    // 0 on success, else a negative errno value.
    int change(const Request &request);

private:
    bool send(const Request &request, std::uint32_t sequence, std::uint16_t extraFlags);
    // Receives one datagram from the kernel into m_buffer; its length, or -1.
    long receive();

    int m_fd = -1;
    std::uint32_t m_sequence = 0;
    std::vector<std::uint8_t> m_buffer;
};

} // namespace platform::rtnl
