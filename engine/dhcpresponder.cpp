// SPDX-License-Identifier: GPL-3.0-or-later
// DHCPResponder: lease allocation and the reply to each DHCP message.
//
// How this works: every datagram is checked (BOOTREQUEST, at least the 240-byte fixed part,
// the magic cookie, a hardware address of 1 to 16 bytes, options 50 and 54 exactly four
// bytes) and its options parsed; a client is known by its hardware address. The table
// maps each address to one lease and each client to one address, and both maps change
// together.
//
// State rules of a lease (times in UpTime seconds):
// - DISCOVER from a new client: the requested address (option 50) when it is available,
//   else the first free pool address, else the takeover of the oldest expired lease; the
//   lease is an offer that holds the address for kOfferHoldSeconds. No address: no reply.
// - DISCOVER from a known client: an offer, or a lease that has run out or was released,
//   is offered again for the full lease time; a running bound lease is offered for the
//   seconds it has left.
// - REQUEST (RFC 2131 section 4.3.2): one naming another server (option 54) is that
//   server's business and gets no answer. SELECTING (option 54 ours): binds the offered
//   address for the offered duration. INIT-REBOOT (no 54, ciaddr 0): confirms a running
//   bound lease for the seconds it has left. RENEWING/REBINDING (no 54, ciaddr set): a fresh
//   full lease. Anything that does not match the recorded address is refused with a NAK.
//   Every ACK that grants an address makes the client a user (origin DHCP, host name from
//   option 12).
// - DECLINE (ours, matching address): the address is never handed out again while this
//   object lives; lease and user go.
// - RELEASE (ours, matching ciaddr): the lease expires now but stays on record; the user
//   goes.
// - INFORM: an ACK with the configuration and no address or lease time (section 4.3.5).
// Replies go to ciaddr when the client has one, else to the limited broadcast address; a
// NAK is always broadcast, since the client may no longer be reachable at ciaddr (section
// 4.1). Relay agents are not served: the hotspot is one link.
#include "engine/dhcpresponder.h"

#include "engine/byteview.h"
#include "engine/dhcpoptions.h"

#include <QtEndian>
#include <algorithm>

const QByteArray DHCPResponder::kDomainName = QByteArrayLiteral("tarnwick.lan");

struct DHCPResponder::Message {
    QByteArray fixed; // the first 240 bytes
    DhcpOptions options;
    QByteArray mac;
    quint8 type = 0;
    quint32 clientAddress = 0;
    std::optional<quint32> requested;
    std::optional<quint32> serverId;
    QByteArray hostName;
};

namespace {

QByteArray addressBytes(quint32 address)
{
    QByteArray bytes(4, '\0');
    qToBigEndian<quint32>(address, bytes.data());
    return bytes;
}

// An address option that is present must be exactly four bytes; false marks bad input.
bool readAddressOption(const DhcpOptions &options, quint8 code, std::optional<quint32> *out)
{
    const auto it = options.constFind(code);
    if (it == options.constEnd())
        return true;
    if (it->size() != Dhcp::kAddressOptionSize)
        return false;
    *out = qFromBigEndian<quint32>(it->constData());
    return true;
}

} // namespace

DHCPResponder::Outcome DHCPResponder::handle(const QByteArray &datagram, quint32 now)
{
    if (datagram.size() < int(Dhcp::kFixedSize))
        return {};
    QByteArray copy = datagram;
    const ByteView view = ByteView::of(copy);
    const std::size_t hlen = view.u8(Dhcp::kHardwareLength);
    if (view.u8(Dhcp::kOp) != Dhcp::kOpRequest
        || view.be16(Dhcp::kMagicCookie) != (Dhcp::kMagicCookieValue >> 16)
        || view.be16(Dhcp::kMagicCookie + 2) != (Dhcp::kMagicCookieValue & 0xFFFF)
        || hlen == 0 || hlen > Dhcp::kClientHardwareSize)
        return {};

    Message message;
    message.fixed = datagram.left(int(Dhcp::kFixedSize));
    message.options = DhcpOptionCodec::parse(datagram.mid(int(Dhcp::kFixedSize)));
    message.mac = message.fixed.mid(int(Dhcp::kClientHardwareAddress), int(hlen));
    if (message.mac == m_ignoredMac)
        return {};
    if (!readAddressOption(message.options, Dhcp::kOptionRequestedAddress, &message.requested)
        || !readAddressOption(message.options, Dhcp::kOptionServerIdentifier, &message.serverId))
        return {};
    const QByteArray type = message.options.value(Dhcp::kOptionMessageType);
    message.type = type.isEmpty() ? 0 : quint8(type.at(0));
    message.clientAddress = qFromBigEndian<quint32>(view.raw32(Dhcp::kClientAddress));
    message.hostName = message.options.value(Dhcp::kOptionHostName);

    switch (message.type) {
    case Dhcp::kDiscover:
        return discover(message, now);
    case Dhcp::kRequest:
        return request(message, now);
    case Dhcp::kDecline:
        return decline(message);
    case Dhcp::kRelease:
        return release(message, now);
    case Dhcp::kInform:
        return inform(message);
    default:
        return {};
    }
}

DHCPResponder::Outcome DHCPResponder::discover(const Message &message, quint32 now)
{
    std::optional<quint32> address = knownAddress(message.mac);
    if (!address) {
        if (message.requested && isAvailable(*message.requested))
            address = message.requested;
        else
            address = allocate(now);
        if (!address)
            return {};
        m_leases.insert(*address, DhcpLease{message.mac, m_leaseTime, now + kOfferHoldSeconds, false});
        m_addressesByMac.insert(message.mac, *address);
    } else if (!message.options.contains(Dhcp::kOptionLeaseTime)) {
        DhcpLease &lease = m_leases[*address];
        if (!lease.bound || lease.expiry <= now)
            lease = DhcpLease{message.mac, m_leaseTime, now + kOfferHoldSeconds, false};
        else
            lease.duration = remaining(lease, now);
    }
    Outcome outcome;
    outcome.reply = reply(message, Dhcp::kOffer, *address, &m_leases[*address]);
    return outcome;
}

DHCPResponder::Outcome DHCPResponder::request(const Message &message, quint32 now)
{
    if (message.serverId && *message.serverId != m_server)
        return {};
    const std::optional<quint32> address = knownAddress(message.mac);
    if (!address)
        return refuse(message);
    DhcpLease &lease = m_leases[*address];
    if (message.serverId) {
        if (message.requested != address)
            return refuse(message);
        lease.expiry = now + lease.duration;
    } else if (message.clientAddress == 0) {
        if (message.requested != address || !lease.bound || lease.expiry <= now)
            return refuse(message);
        lease.duration = remaining(lease, now);
    } else {
        if (message.clientAddress != *address)
            return refuse(message);
        lease.duration = m_leaseTime;
        lease.expiry = now + m_leaseTime;
    }
    lease.bound = true;
    return acknowledge(message, *address);
}

DHCPResponder::Outcome DHCPResponder::decline(const Message &message)
{
    if (message.serverId != m_server)
        return {};
    const std::optional<quint32> address = knownAddress(message.mac);
    if (!address || message.requested != address)
        return {};
    m_declined.insert(*address);
    forget(*address);
    Outcome outcome;
    outcome.userChanges.append(UserChange{UserChange::Remove, *address, {}, {}});
    return outcome;
}

DHCPResponder::Outcome DHCPResponder::release(const Message &message, quint32 now)
{
    if (message.serverId != m_server)
        return {};
    const std::optional<quint32> address = knownAddress(message.mac);
    if (!address || message.clientAddress != *address)
        return {};
    DhcpLease &lease = m_leases[*address];
    lease.expiry = now;
    lease.bound = false;
    Outcome outcome;
    outcome.userChanges.append(UserChange{UserChange::Remove, *address, {}, {}});
    return outcome;
}

DHCPResponder::Outcome DHCPResponder::inform(const Message &message) const
{
    Outcome outcome;
    outcome.reply = reply(message, Dhcp::kAck, 0, nullptr);
    if (message.clientAddress != 0)
        outcome.destination = message.clientAddress;
    return outcome;
}

// The client's recorded address. A record the pool no longer covers (the range changed, or
// the address was declined meanwhile) is dropped, so the client starts afresh.
std::optional<quint32> DHCPResponder::knownAddress(const QByteArray &mac)
{
    const auto it = m_addressesByMac.constFind(mac);
    if (it == m_addressesByMac.constEnd())
        return std::nullopt;
    const quint32 address = *it;
    const auto lease = m_leases.constFind(address);
    if (lease == m_leases.constEnd() || lease->mac != mac) {
        m_addressesByMac.remove(mac);
        return std::nullopt;
    }
    if (!inPool(address) || m_declined.contains(address)) {
        forget(address);
        return std::nullopt;
    }
    return address;
}

bool DHCPResponder::inPool(quint32 address) const
{
    return address >= m_first && address <= m_last && address != m_server;
}

bool DHCPResponder::isAvailable(quint32 address) const
{
    return inPool(address) && !m_declined.contains(address) && !m_leases.contains(address);
}

std::optional<quint32> DHCPResponder::allocate(quint32 now)
{
    // Stops at the first free address, so it walks at most one step per lease or decline.
    for (quint64 address = m_first; address <= m_last; ++address) {
        if (isAvailable(quint32(address)))
            return quint32(address);
    }
    std::optional<quint32> oldest;
    quint32 oldestExpiry = 0;
    for (auto it = m_leases.constBegin(); it != m_leases.constEnd(); ++it) {
        if (!inPool(it.key()) || m_declined.contains(it.key()) || it->expiry >= now)
            continue;
        if (!oldest || it->expiry < oldestExpiry) {
            oldest = it.key();
            oldestExpiry = it->expiry;
        }
    }
    if (oldest)
        forget(*oldest);
    return oldest;
}

void DHCPResponder::forget(quint32 address)
{
    const auto lease = m_leases.constFind(address);
    if (lease == m_leases.constEnd())
        return;
    const auto byMac = m_addressesByMac.constFind(lease->mac);
    if (byMac != m_addressesByMac.constEnd() && *byMac == address)
        m_addressesByMac.remove(lease->mac);
    m_leases.remove(address);
}

// Seconds left of a running lease, never more than one full lease: the clock restarts from
// zero with every sharing run while the table lives on.
quint32 DHCPResponder::remaining(const DhcpLease &lease, quint32 now) const
{
    return std::min(lease.expiry - now, m_leaseTime);
}

DHCPResponder::Outcome DHCPResponder::acknowledge(const Message &message, quint32 address)
{
    const DhcpLease &lease = m_leases[address];
    Outcome outcome;
    outcome.reply = reply(message, Dhcp::kAck, address, &lease);
    if (message.clientAddress != 0)
        outcome.destination = message.clientAddress;
    outcome.userChanges.append(UserChange{UserChange::Add, address, message.mac, message.hostName});
    return outcome;
}

DHCPResponder::Outcome DHCPResponder::refuse(const Message &message) const
{
    Outcome outcome;
    outcome.reply = reply(message, Dhcp::kNak, 0, nullptr);
    return outcome;
}

QByteArray DHCPResponder::reply(const Message &message, quint8 type, quint32 address,
                                const DhcpLease *lease) const
{
    QByteArray bytes = message.fixed;
    ByteView fixed = ByteView::of(bytes);
    fixed.setU8(Dhcp::kOp, Dhcp::kOpReply);
    if (type == Dhcp::kNak) {
        fixed.setRaw32(Dhcp::kClientAddress, 0);
        fixed.setRaw32(Dhcp::kYourAddress, 0);
    } else {
        fixed.setRaw32(Dhcp::kYourAddress, qToBigEndian<quint32>(address));
    }

    DhcpOptions options;
    options.insert(Dhcp::kOptionMessageType, QByteArray(1, char(type)));
    options.insert(Dhcp::kOptionServerIdentifier, addressBytes(m_server));
    if (type != Dhcp::kNak) {
        if (lease && address != 0)
            options.insert(Dhcp::kOptionLeaseTime, addressBytes(lease->duration));
        options.insert(Dhcp::kOptionSubnetMask, addressBytes(m_mask));
        options.insert(Dhcp::kOptionRouter, addressBytes(m_router));
        options.insert(Dhcp::kOptionDnsServer, addressBytes(m_dns));
        options.insert(Dhcp::kOptionDomainName, kDomainName);
    }
    bytes.append(DhcpOptionCodec::build(options));
    if (bytes.size() < int(Dhcp::kMinimumMessageSize))
        bytes.append(QByteArray(int(Dhcp::kMinimumMessageSize) - bytes.size(), '\0'));
    return bytes;
}
