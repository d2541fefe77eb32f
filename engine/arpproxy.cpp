// SPDX-License-Identifier: GPL-3.0-or-later
// Bridge mode's memory of the real MAC address behind each relayed IPv4 address.
#include "engine/arpproxy.h"

#include <mutex>

namespace {
constexpr int kMacLength = 6;
}

ARPProxy::ARPProxy(QObject *parent)
    : QObject(parent)
{
}

bool ARPProxy::insert(quint32 address, const QByteArray &mac)
{
    if (mac.size() != kMacLength)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    // Bridge mode inserts for every relayed frame; leaving an unchanged entry alone keeps a
    // snapshot handed out by table() from being copied.
    const auto it = m_table.constFind(address);
    if (it == m_table.constEnd() || *it != mac)
        m_table.insert(address, mac);
    return true;
}

bool ARPProxy::insertIfAbsent(quint32 address, const QByteArray &mac)
{
    if (mac.size() != kMacLength)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_table.contains(address))
        return false;
    m_table.insert(address, mac);
    return true;
}

QByteArray ARPProxy::macOf(quint32 address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_table.value(address);
}

QHash<quint32, QByteArray> ARPProxy::table() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_table;
}
