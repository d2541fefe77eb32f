// SPDX-License-Identifier: GPL-3.0-or-later
// UPnPClient: no upstream gateway is searched for yet.
#include "upnp/upnpclient.h"

UPnPClient::UPnPClient(QObject *parent)
    : QObject(parent)
{
}

bool UPnPClient::start()
{
    return true;
}

void UPnPClient::stop()
{
}
