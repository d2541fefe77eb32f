// SPDX-License-Identifier: GPL-3.0-or-later
// WiFiHostedNetwork: without a radio backend the hosted network is not available.
#include "wireless/wifihostednetwork.h"

WiFiHostedNetwork::WiFiHostedNetwork(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<WiFiHostedNetwork::State>("WiFiHostedNetwork::State");
}

bool WiFiHostedNetwork::init()
{
    return false; // no WLAN backend to load yet
}

void WiFiHostedNetwork::close()
{
}

bool WiFiHostedNetwork::start()
{
    return false;
}

void WiFiHostedNetwork::stop()
{
}
