// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps an adapter in promiscuous mode for as long as the object lives.
#pragma once

#include "platform/linux/ownedfd.h"

// Promiscuous mode is taken as a membership of a packet socket, which the kernel counts
// and releases when the socket closes: however the process ends, the adapter's receive
// filter goes back to what it was, and a promiscuous mode someone else set stays.
class PromiscuousHold
{
public:
    explicit PromiscuousHold(int ifindex);
    bool isHeld() const { return m_socket.isValid(); }

private:
    OwnedFd m_socket;
};
