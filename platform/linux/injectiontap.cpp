// SPDX-License-Identifier: GPL-3.0-or-later
// A TAP whose written frames go to one adapter: onto its wire or up into the host's stack.
#include "platform/linux/injectiontap.h"

#include "platform/linux/bpfprograms.h"

InjectionTap::InjectionTap(const QByteArray &tapName, int adapterIfindex, Target target)
    : m_tap(tapName)
{
    if (!m_tap.isValid())
        return;
    const OwnedFd program = BpfPrograms::load(BpfPrograms::tapHook(adapterIfindex, target == ToStack),
                                              target == ToStack ? "stack injection" : "wire injection");
    if (!program.isValid())
        return;
    // The program goes on before the TAP comes up, so no written frame can slip past it.
    m_link = TcxLink(program.get(), m_tap.ifindex(), TcxLink::Ingress);
    if (m_link.isAttached() && !m_tap.bringUp())
        m_link.detach();
}
