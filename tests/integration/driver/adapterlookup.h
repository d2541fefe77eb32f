// SPDX-License-Identifier: GPL-3.0-or-later
// The driver's handle of a named adapter, for the driver's lab tests.
#pragma once

#include "engine/cndisapi.h"

#include <QByteArray>
#include <memory>

inline bool adapterHandle(CNdisApi &api, const char *ifname, AdapterHandle &handle)
{
    auto list = std::make_unique<AdapterList>();
    if (!api.getAdapterList(*list))
        return false;
    const QByteArray wanted = QByteArray(PacketDriver::kAdapterNamePrefix) + ifname;
    for (quint32 i = 0; i < list->count && i < quint32(PacketDriver::kMaxAdapters); ++i)
        if (wanted == list->names[i]) {
            handle = list->handles[i];
            return true;
        }
    return false;
}
