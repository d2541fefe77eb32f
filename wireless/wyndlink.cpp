// SPDX-License-Identifier: GPL-3.0-or-later
// Wyndlink: without the companion library the Wi-Fi Direct access point is not available.
#include "wireless/wyndlink.h"

Wyndlink::Wyndlink(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<Wyndlink::State>("Wyndlink::State");
}

bool Wyndlink::init()
{
    return false; // the companion library is not built yet
}

void Wyndlink::close()
{
    m_loaded = false;
}

bool Wyndlink::start()
{
    return false;
}

void Wyndlink::stop()
{
}

void Wyndlink::setAvailable(bool available)
{
    if (!m_loaded)
        m_loaded = init();
    const bool value = available && m_loaded;
    if (value == m_available)
        return;
    m_available = value;
    emit availableChanged(m_available);
}
