// SPDX-License-Identifier: GPL-3.0-or-later
// A tc program attached to an interface hook for as long as the link object lives.
#pragma once

#include "platform/linux/ownedfd.h"

// The attachment lives as long as its descriptor: closing it, or the end of the process
// however it ends, detaches the program and the interface works as before.
class TcxLink
{
public:
    enum Hook { Ingress, Egress };

    TcxLink() = default;
    // Attaches `programFd` to the hook of interface `ifindex`, ahead of any program already
    // there when the kernel allows it; isAttached() tells whether it worked.
    TcxLink(int programFd, int ifindex, Hook hook);

    bool isAttached() const { return m_link.isValid(); }
    void detach() { m_link.reset(); }

private:
    OwnedFd m_link;
};
