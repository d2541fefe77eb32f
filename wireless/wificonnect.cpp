// SPDX-License-Identifier: GPL-3.0-or-later
// WiFiConnect: without a WLAN client backend no network can be joined or created.
#include "wireless/wificonnect.h"

WiFiConnect::WiFiConnect(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<WiFiConnect::State>("WiFiConnect::State");
    qRegisterMetaType<WiFiConnect::Error>("WiFiConnect::Error");
    NetworkInterface::registerMetaType();
}

bool WiFiConnect::init()
{
    return false; // no WLAN client backend to load yet
}

void WiFiConnect::close()
{
}

bool WiFiConnect::connect()
{
    return false;
}

void WiFiConnect::disconnect()
{
}

bool WiFiConnect::scan(const NetworkInterface &)
{
    return false;
}
