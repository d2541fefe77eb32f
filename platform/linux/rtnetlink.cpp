// SPDX-License-Identifier: GPL-3.0-or-later
// A minimal rtnetlink client: request building, bounds-checked message and attribute views.
#include "platform/linux/rtnetlink.h"

#include <cerrno>
#include <ctime>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace platform::rtnl {

namespace {

constexpr std::size_t kReceiveBufferSize = 64 * 1024;
constexpr std::size_t kHeaderSize = sizeof(nlmsghdr);
constexpr std::size_t kAttributeHeaderSize = sizeof(rtattr);

std::size_t align4(std::size_t n)
{
    return (n + 3) & ~std::size_t(3);
}

} // namespace

ByteView ByteView::sub(std::size_t offset, std::size_t length) const
{
    if (offset > m_size || m_size - offset < length)
        return ByteView();
    return ByteView(m_data + offset, length);
}

ByteView ByteView::from(std::size_t offset) const
{
    if (offset > m_size)
        return ByteView();
    return ByteView(m_data + offset, m_size - offset);
}

QByteArray ByteView::toByteArray() const
{
    return QByteArray(reinterpret_cast<const char *>(m_data), static_cast<int>(m_size));
}

AttributeTable AttributeTable::parse(ByteView area)
{
    AttributeTable table;
    std::size_t offset = 0;
    while (true) {
        const auto length = area.read<std::uint16_t>(offset);
        const auto type = area.read<std::uint16_t>(offset + 2);
        if (!length || !type || *length < kAttributeHeaderSize)
            break;
        if (*length > area.size() - offset)
            break; // claims more bytes than the message holds
        table.m_values[*type & NLA_TYPE_MASK] = area.sub(offset + kAttributeHeaderSize, *length - kAttributeHeaderSize);
        offset += align4(*length);
    }
    return table;
}

ByteView AttributeTable::get(std::uint16_t type) const
{
    const auto it = m_values.find(type);
    return it == m_values.end() ? ByteView() : it->second;
}

std::optional<std::uint32_t> AttributeTable::u32(std::uint16_t type) const
{
    return get(type).read<std::uint32_t>(0);
}

std::optional<std::uint32_t> AttributeTable::ipv4(std::uint16_t type) const
{
    const ByteView value = get(type);
    if (value.size() != 4)
        return std::nullopt;
    return std::uint32_t(value.data()[0]) << 24 | std::uint32_t(value.data()[1]) << 16
        | std::uint32_t(value.data()[2]) << 8 | std::uint32_t(value.data()[3]);
}

QString AttributeTable::string(std::uint16_t type) const
{
    const ByteView value = get(type);
    std::size_t n = 0;
    while (n < value.size() && value.data()[n] != 0)
        ++n;
    return QString::fromUtf8(reinterpret_cast<const char *>(value.data()), static_cast<int>(n));
}

std::vector<Message> splitMessages(ByteView datagram, bool *complete)
{
    std::vector<Message> messages;
    *complete = true;
    std::size_t offset = 0;
    while (offset < datagram.size()) {
        const auto header = datagram.read<nlmsghdr>(offset);
        if (!header || header->nlmsg_len < kHeaderSize
            || header->nlmsg_len > datagram.size() - offset) {
            *complete = false;
            break;
        }
        Message m;
        m.type = header->nlmsg_type;
        m.flags = header->nlmsg_flags;
        m.sequence = header->nlmsg_seq;
        m.payload = datagram.sub(offset + kHeaderSize, header->nlmsg_len - kHeaderSize);
        messages.push_back(m);
        offset += align4(header->nlmsg_len);
    }
    return messages;
}

Request::Request(std::uint16_t type, std::uint16_t flags)
{
    nlmsghdr header{};
    header.nlmsg_type = type;
    header.nlmsg_flags = flags;
    append(&header, sizeof header);
}

void Request::append(const void *data, std::size_t size)
{
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    m_bytes.insert(m_bytes.end(), bytes, bytes + size);
    pad();
}

void Request::pad()
{
    m_bytes.resize(align4(m_bytes.size()), 0);
}

void Request::attribute(std::uint16_t type, const void *data, std::size_t size)
{
    rtattr header{};
    header.rta_len = static_cast<unsigned short>(kAttributeHeaderSize + size);
    header.rta_type = type;
    const auto *h = reinterpret_cast<const std::uint8_t *>(&header);
    m_bytes.insert(m_bytes.end(), h, h + sizeof header);
    append(data, size);
}

void Request::attributeIpv4(std::uint16_t type, std::uint32_t hostOrderAddress)
{
    const std::uint8_t bytes[4] = {std::uint8_t(hostOrderAddress >> 24), std::uint8_t(hostOrderAddress >> 16),
                                   std::uint8_t(hostOrderAddress >> 8), std::uint8_t(hostOrderAddress)};
    attribute(type, bytes, sizeof bytes);
}

QByteArray Request::finish(std::uint32_t sequence, std::uint16_t extraFlags) const
{
    QByteArray out(reinterpret_cast<const char *>(m_bytes.data()), static_cast<int>(m_bytes.size()));
    nlmsghdr header;
    std::memcpy(&header, out.constData(), sizeof header);
    header.nlmsg_len = static_cast<std::uint32_t>(m_bytes.size());
    header.nlmsg_seq = sequence;
    header.nlmsg_flags |= extraFlags;
    std::memcpy(out.data(), &header, sizeof header);
    return out;
}

Socket::Socket() : m_buffer(kReceiveBufferSize)
{
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (m_fd < 0)
        return;
    timeval timeout{2, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_sequence = static_cast<std::uint32_t>(std::time(nullptr));
}

Socket::~Socket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Socket::send(const Request &request, std::uint32_t sequence, std::uint16_t extraFlags)
{
    const QByteArray bytes = request.finish(sequence, extraFlags);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    const ssize_t sent = ::sendto(m_fd, bytes.constData(), static_cast<std::size_t>(bytes.size()), 0,
                                  reinterpret_cast<sockaddr *>(&kernel), sizeof kernel);
    return sent == bytes.size();
}

long Socket::receive()
{
    while (true) {
        sockaddr_nl from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(m_fd, m_buffer.data(), m_buffer.size(), MSG_TRUNC,
                                     reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || static_cast<std::size_t>(n) > m_buffer.size())
            return -1; // failed, timed out, or truncated
        if (from.nl_pid != 0)
            continue; // not from the kernel
        return n;
    }
}

bool Socket::dump(const Request &request, std::uint16_t replyType,
                  const std::function<void(ByteView payload)> &handler)
{
    const std::uint32_t sequence = ++m_sequence;
    if (!isOpen() || !send(request, sequence, NLM_F_REQUEST | NLM_F_DUMP))
        return false;
    while (true) {
        const long n = receive();
        if (n < 0)
            return false;
        bool complete = true;
        const auto messages = splitMessages(ByteView(m_buffer.data(), static_cast<std::size_t>(n)), &complete);
        for (const Message &m : messages) {
            if (m.sequence != sequence)
                continue;
            if (m.type == NLMSG_DONE)
                return complete;
            if (m.type == NLMSG_ERROR)
                return false;
            if (m.type == replyType)
                handler(m.payload);
        }
        if (!complete)
            return false;
    }
}

int Socket::change(const Request &request)
{
    const std::uint32_t sequence = ++m_sequence;
    if (!isOpen() || !send(request, sequence, NLM_F_REQUEST | NLM_F_ACK))
        return -EIO;
    while (true) {
        const long n = receive();
        if (n < 0)
            return -EIO;
        bool complete = true;
        const auto messages = splitMessages(ByteView(m_buffer.data(), static_cast<std::size_t>(n)), &complete);
        for (const Message &m : messages) {
            if (m.sequence != sequence || m.type != NLMSG_ERROR)
                continue;
            const auto code = m.payload.read<std::int32_t>(0);
            return code ? *code : -EIO;
        }
        if (!complete)
            return -EIO;
    }
}

} // namespace platform::rtnl
