// SPDX-License-Identifier: GPL-3.0-or-later
// InterfaceOffer: building and comparing the offered interface list.
#include "spot/interfaceoffer.h"

namespace InterfaceOffer {

QList<NetworkInterface> build(const QList<NetworkInterface> &filterable, const QList<NetworkInterface> &wireless)
{
    QList<NetworkInterface> offered;
    for (const NetworkInterface &candidate : filterable) {
        if (candidate.type() == NetworkInterface::Wireless && !wireless.contains(candidate))
            continue;
        offered.append(candidate);
    }
    return offered;
}

bool differs(const QList<NetworkInterface> &stored, const QList<NetworkInterface> &fresh)
{
    if (stored.size() != fresh.size())
        return true;
    for (int i = 0; i < stored.size(); ++i)
        if (stored.at(i).index() != fresh.at(i).index() || stored.at(i).flags() != fresh.at(i).flags())
            return true;
    return false;
}

bool hasDirectAdapter(const QList<NetworkInterface> &interfaces)
{
    for (const NetworkInterface &candidate : interfaces)
        if (candidate.description().contains(QLatin1String("Wi-Fi Direct"), Qt::CaseSensitive))
            return true;
    return false;
}

} // namespace InterfaceOffer
