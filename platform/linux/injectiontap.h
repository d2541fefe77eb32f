// SPDX-License-Identifier: GPL-3.0-or-later
// A TAP whose written frames go to one adapter: onto its wire or up into the host's stack.
#pragma once

#include "platform/linux/tapdevice.h"
#include "platform/linux/tcxlink.h"

// The TAP's ingress program marks every frame written into it and redirects it to the
// adapter, so nothing written here ever reaches the host's stack through the TAP itself.
class InjectionTap
{
public:
    enum Target { ToWire, ToStack };

    InjectionTap(const QByteArray &tapName, int adapterIfindex, Target target);

    bool isValid() const { return m_link.isAttached() && m_tap.isValid(); }
    TapDevice &tap() { return m_tap; }

private:
    TapDevice m_tap;
    TcxLink m_link;
};
