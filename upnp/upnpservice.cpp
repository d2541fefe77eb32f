// SPDX-License-Identifier: GPL-3.0-or-later
// UPnPService: runs none of its parts yet; port requests find no UPnP party.
#include "upnp/upnpservice.h"

UPnPService::UPnPService(ARPTable *users, NATService *translator, UpTime *clock, QObject *parent)
    : QObject(parent)
    , m_users(users)
    , m_translator(translator)
    , m_clock(clock)
{
    qRegisterMetaType<UPnPService::Error>("UPnPService::Error");
    qRegisterMetaType<QHostAddress>("QHostAddress");
}

// Neither the server nor the client exists yet; nothing is started, and that is no failure.
bool UPnPService::start()
{
    return true;
}

void UPnPService::stop()
{
    m_client.stop();
}

bool UPnPService::addPort(const QHostAddress &, quint16, quint8, quint16, const QHostAddress &, bool,
                          const QString &, quint32)
{
    emit error(AddPortError, -1);
    return false;
}

bool UPnPService::removePort(const QHostAddress &, quint16, quint8)
{
    emit error(RemovePortError, -1);
    return false;
}
