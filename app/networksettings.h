// SPDX-License-Identifier: GPL-3.0-or-later
// How the program reaches the maker's server: secure connection and proxy, kept in the store.
#pragma once

#include "spot/optionkeys.h"

#include <QObject>
#include <QSettings>
#include <QString>

// Keys and defaults of group "networkSettings". The proxy factory and the server client read
// them again with handles of their own, so they live here beside their owner.
namespace NetworkSettingsKeys {

inline constexpr BoolSetting secureConnectionEnabled{"networkSettings/secureConnectionEnabled", true};
// "auto" (system proxy), "http", "socks5"; anything else means no proxy.
inline constexpr StringSetting proxyMode{"networkSettings/proxyMode", "auto"};
inline constexpr StringSetting httpProxyHost{"networkSettings/httpProxyHost", ""};
inline constexpr PortSetting httpProxyPort{"networkSettings/httpProxyPort", 3128};
inline constexpr StringSetting socks5ProxyHost{"networkSettings/socks5ProxyHost", ""};
inline constexpr PortSetting socks5ProxyPort{"networkSettings/socks5ProxyPort", 1080};
inline constexpr StringSetting proxyUsername{"networkSettings/proxyUsername", ""};
inline constexpr StringSetting proxyPassword{"networkSettings/proxyPassword", ""};

} // namespace NetworkSettingsKeys

// Every getter reads the store (no cached copy); every setter compares with the getter's value
// and writes and signals only a real change, so writing a default to an absent key leaves it
// absent. Setters validate nothing: the pages check what they write.
class NetworkSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool secureConnectionEnabled READ secureConnectionEnabled
               WRITE setSecureConnectionEnabled NOTIFY secureConnectionEnabledChanged)
    Q_PROPERTY(QString proxyMode READ proxyMode WRITE setProxyMode NOTIFY proxyModeChanged)
    Q_PROPERTY(QString httpProxyHost READ httpProxyHost WRITE setHttpProxyHost NOTIFY httpProxyHostChanged)
    Q_PROPERTY(quint16 httpProxyPort READ httpProxyPort WRITE setHttpProxyPort NOTIFY httpProxyPortChanged)
    Q_PROPERTY(QString socks5ProxyHost READ socks5ProxyHost
               WRITE setSocks5ProxyHost NOTIFY socks5ProxyHostChanged)
    Q_PROPERTY(quint16 socks5ProxyPort READ socks5ProxyPort
               WRITE setSocks5ProxyPort NOTIFY socks5ProxyPortChanged)
    Q_PROPERTY(QString proxyUsername READ proxyUsername WRITE setProxyUsername NOTIFY proxyUsernameChanged)
    Q_PROPERTY(QString proxyPassword READ proxyPassword WRITE setProxyPassword NOTIFY proxyPasswordChanged)

public:
    // Opens the store of the application identity (organisation and application names).
    NetworkSettings();

    bool secureConnectionEnabled() const;
    QString proxyMode() const;
    QString httpProxyHost() const;
    quint16 httpProxyPort() const;
    QString socks5ProxyHost() const;
    quint16 socks5ProxyPort() const;
    QString proxyUsername() const;
    QString proxyPassword() const;

    void setSecureConnectionEnabled(bool value);
    void setProxyMode(const QString &value);
    void setHttpProxyHost(const QString &value);
    void setHttpProxyPort(quint16 value);
    void setSocks5ProxyHost(const QString &value);
    void setSocks5ProxyPort(quint16 value);
    void setProxyUsername(const QString &value);
    void setProxyPassword(const QString &value);

signals:
    void secureConnectionEnabledChanged();
    void proxyModeChanged();
    void httpProxyHostChanged();
    void httpProxyPortChanged();
    void socks5ProxyHostChanged();
    void socks5ProxyPortChanged();
    void proxyUsernameChanged();
    void proxyPasswordChanged();

private:
    template <typename Setting, typename T>
    void write(const Setting &setting, const T &value, T (NetworkSettings::*getter)() const,
               void (NetworkSettings::*changed)());

    QSettings m_settings;
};
