// SPDX-License-Identifier: GPL-3.0-or-later
// The program's side of the packet filter driver's control protocol.
#include "engine/cndisapi.h"

#include <cstring>
#include <limits>

using namespace PacketDriver;

namespace {

// The driver's adapter handles are 32-bit values; anything wider cannot be one of them.
bool narrowHandle(AdapterHandle adapter, quint32 &out)
{
    if (adapter > std::numeric_limits<quint32>::max())
        return false;
    out = static_cast<quint32>(adapter);
    return true;
}

} // namespace

CNdisApi::CNdisApi(const char *name)
    : m_device(PacketDevice::open(name))
{
}

CNdisApi::CNdisApi(std::unique_ptr<PacketDevice> device)
    : m_device(std::move(device))
{
}

CNdisApi::~CNdisApi() = default;

bool CNdisApi::isLoaded() const
{
    return m_device != nullptr;
}

quint32 CNdisApi::driverVersion()
{
    quint32 version = kVersionQueryPreset;
    if (!m_device || !m_device->control(ControlVersion, version, version))
        return kVersionQueryPreset;
    return version;
}

bool CNdisApi::getAdapterList(AdapterList &list)
{
    return m_device && m_device->control(ControlAdapterList, list, list);
}

bool CNdisApi::readPacket(PacketRequest &request)
{
    return m_device && request.buffer && m_device->control(ControlReadPacket, request, request);
}

bool CNdisApi::sendPacketToAdapter(const PacketRequest &request)
{
    return m_device && request.buffer && m_device->control(ControlSendToAdapter, request, {});
}

bool CNdisApi::sendPacketToStack(const PacketRequest &request)
{
    return m_device && request.buffer && m_device->control(ControlSendToStack, request, {});
}

bool CNdisApi::setAdapterMode(AdapterHandle adapter, quint32 flags)
{
    AdapterModeRequest request{0, flags};
    return m_device && narrowHandle(adapter, request.adapter)
        && m_device->control(ControlSetAdapterMode, request, {});
}

bool CNdisApi::flushAdapterQueue(AdapterHandle adapter)
{
    FlushRequest request = 0;
    return m_device && narrowHandle(adapter, request) && m_device->control(ControlFlushQueue, request, {});
}

bool CNdisApi::setPacketEvent(AdapterHandle adapter, EventHandle event)
{
    PacketEventRequest request{0, event < 0 ? kNoEventHandle : event};
    return m_device && narrowHandle(adapter, request.adapter)
        && m_device->control(ControlSetPacketEvent, request, {});
}

bool CNdisApi::setPacketFilter(AdapterHandle adapter, quint32 filter)
{
    OidRequest request{};
    std::memcpy(request.data, &filter, sizeof filter);
    return oidRequest(ControlOidSet, adapter, request);
}

bool CNdisApi::getPacketFilter(AdapterHandle adapter, quint32 &filter)
{
    OidRequest request{};
    if (!oidRequest(ControlOidQuery, adapter, request))
        return false;
    std::memcpy(&filter, request.data, sizeof filter);
    return true;
}

// Succeeds when the driver completed the request and left its data length as it was.
bool CNdisApi::oidRequest(quint32 code, AdapterHandle adapter, OidRequest &request)
{
    if (!m_device || !narrowHandle(adapter, request.adapter))
        return false;
    request.oid = kOidCurrentPacketFilter;
    request.length = kOidDataSize;
    const quint32 lengthBefore = request.length;
    return m_device->control(code, request, request) && request.length == lengthBefore;
}
