// SPDX-License-Identifier: GPL-3.0-or-later
// The packet driver's device on Linux: decodes control requests for LinuxPacketDriver.
#pragma once

#include "platform/linux/linuxpacketdriver.h"
#include "platform/packetdevice.h"

// Checks each request's record sizes and contents before anything is done; a request that
// does not fit its code is refused with false and changes nothing.
class LinuxPacketDevice : public PacketDevice
{
public:
    static constexpr const char *kDriverName = "TRNWICK";

    bool control(quint32 code, ConstBytes in, MutableBytes out) override;

private:
    bool version(ConstBytes in, MutableBytes out);
    bool adapterList(ConstBytes in, MutableBytes out);
    bool send(quint32 code, ConstBytes in);
    bool read(ConstBytes in, MutableBytes out);
    bool setMode(ConstBytes in);
    bool flush(ConstBytes in);
    bool setPacketEvent(ConstBytes in);
    bool oidRequest(quint32 code, ConstBytes in, MutableBytes out);

    LinuxPacketDriver m_driver;
};
