// SPDX-License-Identifier: GPL-3.0-or-later
// A TAP device owned by the process: frames the kernel sends on it are read here, frames
// written here enter the kernel as if received on it.
#pragma once

#include "engine/packetbuffer.h"
#include "platform/linux/ownedfd.h"

#include <QByteArray>

#include <vector>

// Non-persistent (it vanishes with the object or the process), without packet information
// headers, non-blocking, IPv6 and address autoconfiguration off, with a long transmit
// queue so that bursts wait for the engine instead of being dropped.
class TapDevice
{
public:
    // `name` is a fixed name (a leftover persistent TAP of that name is removed first) or
    // a pattern with %d that the kernel completes. Check isValid().
    explicit TapDevice(const QByteArray &name);

    bool isValid() const { return m_fd.isValid() && m_ifindex > 0; }
    int fd() const { return m_fd.get(); }
    int ifindex() const { return m_ifindex; }
    const QByteArray &name() const { return m_name; }

    bool bringUp();

    // Reads one frame into `buffer` (frame bytes and length word). Frames larger than the
    // buffer holds are dropped. False at once when no frame is waiting.
    bool read(PacketBuffer &buffer);
    // Writes the buffer's frame (length word bytes) into the TAP.
    bool write(const PacketBuffer &buffer);
    // Discards every waiting frame.
    void drain();

private:
    bool attach(const QByteArray &name);
    bool configure();

    OwnedFd m_fd;
    int m_ifindex = 0;
    QByteArray m_name;
    std::vector<quint8> m_overflow; // tail of frames too large for a PacketBuffer
};
