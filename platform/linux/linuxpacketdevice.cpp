// SPDX-License-Identifier: GPL-3.0-or-later
// The packet driver's device on Linux: decodes control requests for LinuxPacketDriver.
#include "platform/linux/linuxpacketdevice.h"

#include <cstring>
#include <limits>

using namespace PacketDriver;

namespace {

// Reads a record of exactly its own size out of `in`.
template<typename T>
bool take(ConstBytes in, T &record)
{
    if (!in.data() || in.size() != sizeof(T))
        return false;
    std::memcpy(&record, in.data(), sizeof(T));
    return true;
}

template<typename T>
bool give(MutableBytes out, const T &record)
{
    if (!out.data() || out.size() != sizeof(T))
        return false;
    std::memcpy(out.data(), &record, sizeof(T));
    return true;
}

bool handleFits(AdapterHandle handle)
{
    return handle <= std::numeric_limits<quint32>::max();
}

} // namespace

std::unique_ptr<PacketDevice> PacketDevice::open(const char *name)
{
    if (!name || std::strcmp(name, LinuxPacketDevice::kDriverName) != 0)
        return nullptr;
    return std::make_unique<LinuxPacketDevice>();
}

bool LinuxPacketDevice::control(quint32 code, ConstBytes in, MutableBytes out)
{
    switch (code) {
    case ControlVersion:
        return version(in, out);
    case ControlAdapterList:
        return adapterList(in, out);
    case ControlSendToAdapter:
    case ControlSendToStack:
        return send(code, in);
    case ControlReadPacket:
        return read(in, out);
    case ControlSetAdapterMode:
        return setMode(in);
    case ControlFlushQueue:
        return flush(in);
    case ControlSetPacketEvent:
        return setPacketEvent(in);
    case ControlOidSet:
    case ControlOidQuery:
        return oidRequest(code, in, out);
    default:
        return false; // requests this driver does not offer
    }
}

bool LinuxPacketDevice::version(ConstBytes in, MutableBytes out)
{
    quint32 word;
    return take(in, word) && give(out, LinuxPacketDriver::kVersion);
}

bool LinuxPacketDevice::adapterList(ConstBytes in, MutableBytes out)
{
    if (in.size() != sizeof(AdapterList) || out.size() != sizeof(AdapterList) || !out.data())
        return false;
    AdapterList list;
    return m_driver.adapterList(list) && give(out, list);
}

bool LinuxPacketDevice::send(quint32 code, ConstBytes in)
{
    PacketRequest request;
    if (!take(in, request) || !request.buffer || !handleFits(request.adapter))
        return false;
    const quint32 adapter = static_cast<quint32>(request.adapter);
    return code == ControlSendToAdapter ? m_driver.sendToAdapter(adapter, *request.buffer)
                                        : m_driver.sendToStack(adapter, *request.buffer);
}

bool LinuxPacketDevice::read(ConstBytes in, MutableBytes out)
{
    PacketRequest request;
    if (!take(in, request) || !request.buffer || !handleFits(request.adapter) || out.size() != sizeof request)
        return false;
    return m_driver.read(static_cast<quint32>(request.adapter), *request.buffer) && give(out, request);
}

bool LinuxPacketDevice::setMode(ConstBytes in)
{
    AdapterModeRequest request;
    return take(in, request) && m_driver.setMode(request.adapter, request.flags);
}

bool LinuxPacketDevice::flush(ConstBytes in)
{
    FlushRequest adapter;
    return take(in, adapter) && m_driver.flush(adapter);
}

bool LinuxPacketDevice::setPacketEvent(ConstBytes in)
{
    PacketEventRequest request;
    return take(in, request) && m_driver.setPacketEvent(request.adapter, request.event);
}

// Only the receive filter is known; the record must carry exactly its 4-byte value.
bool LinuxPacketDevice::oidRequest(quint32 code, ConstBytes in, MutableBytes out)
{
    OidRequest request;
    if (!take(in, request) || out.size() != sizeof request)
        return false;
    if (request.oid != kOidCurrentPacketFilter || request.length != kOidDataSize)
        return false;
    quint32 value;
    if (code == ControlOidSet) {
        std::memcpy(&value, request.data, sizeof value);
        if (!m_driver.setReceiveFilter(request.adapter, value))
            return false;
    } else {
        if (!m_driver.receiveFilter(request.adapter, value))
            return false;
        std::memcpy(request.data, &value, sizeof value);
    }
    return give(out, request);
}
