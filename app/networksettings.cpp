// SPDX-License-Identifier: GPL-3.0-or-later
// How the program reaches the maker's server: secure connection and proxy, kept in the store.
#include "app/networksettings.h"

namespace Keys = NetworkSettingsKeys;

NetworkSettings::NetworkSettings() = default;

template <typename Setting, typename T>
void NetworkSettings::write(const Setting &setting, const T &value, T (NetworkSettings::*getter)() const,
                            void (NetworkSettings::*changed)())
{
    if ((this->*getter)() == value)
        return;
    storeSetting(m_settings, setting, value);
    emit(this->*changed)();
}

bool NetworkSettings::secureConnectionEnabled() const
{
    return settingValue(m_settings, Keys::secureConnectionEnabled);
}

QString NetworkSettings::proxyMode() const
{
    return settingValue(m_settings, Keys::proxyMode);
}

QString NetworkSettings::httpProxyHost() const
{
    return settingValue(m_settings, Keys::httpProxyHost);
}

quint16 NetworkSettings::httpProxyPort() const
{
    return settingValue(m_settings, Keys::httpProxyPort);
}

QString NetworkSettings::socks5ProxyHost() const
{
    return settingValue(m_settings, Keys::socks5ProxyHost);
}

quint16 NetworkSettings::socks5ProxyPort() const
{
    return settingValue(m_settings, Keys::socks5ProxyPort);
}

QString NetworkSettings::proxyUsername() const
{
    return settingValue(m_settings, Keys::proxyUsername);
}

QString NetworkSettings::proxyPassword() const
{
    return settingValue(m_settings, Keys::proxyPassword);
}

void NetworkSettings::setSecureConnectionEnabled(bool value)
{
    write(Keys::secureConnectionEnabled, value, &NetworkSettings::secureConnectionEnabled,
          &NetworkSettings::secureConnectionEnabledChanged);
}

void NetworkSettings::setProxyMode(const QString &value)
{
    write(Keys::proxyMode, value, &NetworkSettings::proxyMode, &NetworkSettings::proxyModeChanged);
}

void NetworkSettings::setHttpProxyHost(const QString &value)
{
    write(Keys::httpProxyHost, value, &NetworkSettings::httpProxyHost,
          &NetworkSettings::httpProxyHostChanged);
}

void NetworkSettings::setHttpProxyPort(quint16 value)
{
    write(Keys::httpProxyPort, value, &NetworkSettings::httpProxyPort,
          &NetworkSettings::httpProxyPortChanged);
}

void NetworkSettings::setSocks5ProxyHost(const QString &value)
{
    write(Keys::socks5ProxyHost, value, &NetworkSettings::socks5ProxyHost,
          &NetworkSettings::socks5ProxyHostChanged);
}

void NetworkSettings::setSocks5ProxyPort(quint16 value)
{
    write(Keys::socks5ProxyPort, value, &NetworkSettings::socks5ProxyPort,
          &NetworkSettings::socks5ProxyPortChanged);
}

void NetworkSettings::setProxyUsername(const QString &value)
{
    write(Keys::proxyUsername, value, &NetworkSettings::proxyUsername,
          &NetworkSettings::proxyUsernameChanged);
}

void NetworkSettings::setProxyPassword(const QString &value)
{
    write(Keys::proxyPassword, value, &NetworkSettings::proxyPassword,
          &NetworkSettings::proxyPasswordChanged);
}
