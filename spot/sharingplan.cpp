// SPDX-License-Identifier: GPL-3.0-or-later
// SharingPlan: choosing the Internet side, the private side and its kind.
#include "spot/sharingplan.h"

namespace {

// The private side of a run; false when no usable one exists.
bool choosePrivate(const SharingConfig &config, const QList<NetworkInterface> &interfaces,
                   bool directAvailable, bool hostedAvailable, SharingPlan *plan)
{
    if (config.useAccessPoint) {
        if (directAvailable)
            plan->kind = DirectAccessPoint; // preferred when both exist
        else if (hostedAvailable)
            plan->kind = HostedNetwork;
        else
            return false;
        return true;
    }
    plan->privateInterface = NetworkInterface::findByName(config.privateName, interfaces);
    if (!plan->privateInterface.isValid())
        return false;
    plan->kind = plan->privateInterface.type() == NetworkInterface::Wireless ? AdHocNetwork : WiredInterface;
    return true;
}

} // namespace

SharingPlan SharingPlan::choose(const SharingConfig &config, const QList<NetworkInterface> &interfaces,
                                bool directAvailable, bool hostedAvailable)
{
    SharingPlan plan;
    if (config.sharing) {
        plan.publicInterface = NetworkInterface::findByName(config.publicName, interfaces);
        if (!plan.publicInterface.isValid())
            return plan;
    }
    plan.valid = choosePrivate(config, interfaces, directAvailable, hostedAvailable, &plan);
    return plan;
}
