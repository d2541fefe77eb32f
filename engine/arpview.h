// SPDX-License-Identifier: GPL-3.0-or-later
// ARPView: the addresses of an Ethernet/IPv4 ARP packet (RFC 826).
#pragma once

#include "engine/byteview.h"
#include "engine/wire.h"

// Valid when the 28 bytes of an Ethernet/IPv4 ARP packet are there. Hardware type, protocol
// type, address sizes and operation are readable but not checked: the engine only reads and
// rewrites the four addresses. IPv4 addresses are raw network-order values.
class ARPView
{
public:
    ARPView() = default;
    explicit ARPView(ByteView bytes)
        : m_bytes(bytes.slice(0, Wire::kARPSize))
    {
    }

    bool valid() const { return !m_bytes.isNull(); }

    quint16 operation() const { return m_bytes.be16(Wire::kARPOperation); }

    Wire::MacAddress senderMac() const { return m_bytes.mac(Wire::kARPSenderMac); }
    bool setSenderMac(const Wire::MacAddress &mac)
    {
        return m_bytes.setMac(Wire::kARPSenderMac, mac);
    }
    quint32 senderAddress() const { return m_bytes.raw32(Wire::kARPSenderAddress); }
    bool setSenderAddress(quint32 address)
    {
        return m_bytes.setRaw32(Wire::kARPSenderAddress, address);
    }
    Wire::MacAddress targetMac() const { return m_bytes.mac(Wire::kARPTargetMac); }
    bool setTargetMac(const Wire::MacAddress &mac)
    {
        return m_bytes.setMac(Wire::kARPTargetMac, mac);
    }
    quint32 targetAddress() const { return m_bytes.raw32(Wire::kARPTargetAddress); }
    bool setTargetAddress(quint32 address)
    {
        return m_bytes.setRaw32(Wire::kARPTargetAddress, address);
    }

private:
    ByteView m_bytes;
};
