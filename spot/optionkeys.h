// SPDX-License-Identifier: GPL-3.0-or-later
// Keys and defaults of the sharing configuration (group "options") in the per-user store.
#pragma once

#include <QSettings>
#include <QString>
#include <QVariant>
#include <QtGlobal>

// A store key with the value every reader takes when the key is absent. Every reader of the
// store (the facade's properties, the spot worker at each start of sharing, the proxy
// factory) uses these same records, so readers never disagree about a default.
struct StringSetting {
    const char *key;
    const char *defaultValue;
};

struct BoolSetting {
    const char *key;
    bool defaultValue;
};

// Ports are kept as 16-bit unsigned values and stored as plain integers.
struct PortSetting {
    const char *key;
    quint16 defaultValue;
};

namespace OptionKeys {

// Adapter that carries the Internet connection, or "nosharing"; empty until chosen.
inline constexpr StringSetting publicNetworkInterfaceName{"options/publicNetworkInterfaceName", ""};
// Adapter that serves the users, or "accesspoint" for the program's own access point.
inline constexpr StringSetting privateNetworkInterfaceName{"options/privateNetworkInterfaceName", ""};
// View filter of the Internet interface list; read by the facade only.
inline constexpr BoolSetting runningInterfaces{"options/runningInterfaces", true};

// The wireless network the program opens.
inline constexpr StringSetting networkName{"options/networkName", "Tarnwick"};
inline constexpr StringSetting networkSecurity{"options/networkSecurity", "WPA2PSK"}; // none, WEP, WPA2PSK
inline constexpr StringSetting networkKey{"options/networkKey", ""};

// Repeater: a wireless adapter joins another network and becomes the Internet side.
inline constexpr BoolSetting wifiRepeaterEnabled{"options/wifiRepeaterEnabled", false};
inline constexpr StringSetting wifiRepeaterNetworkInterfaceName{"options/wifiRepeaterNetworkInterfaceName", ""};
inline constexpr StringSetting wifiRepeaterNetworkName{"options/wifiRepeaterNetworkName", ""};
inline constexpr StringSetting wifiRepeaterNetworkKey{"options/wifiRepeaterNetworkKey", ""};

// "router" or "bridge"; any other text counts as router.
inline constexpr StringSetting networkMode{"options/networkMode", "router"};

// Address plan of the private network, dotted quads.
inline constexpr StringSetting networkAddress{"options/networkAddress", "192.168.51.1"};
inline constexpr StringSetting networkSubnetMask{"options/networkSubnetMask", "255.255.255.0"};

// DHCP server and its pool.
inline constexpr BoolSetting dhcpEnabled{"options/dhcpEnabled", true};
inline constexpr StringSetting dhcpPoolStart{"options/dhcpPoolStart", "192.168.51.10"};
inline constexpr StringSetting dhcpPoolEnd{"options/dhcpPoolEnd", "192.168.51.50"};

// UPnP gateway device, and mirroring of its mappings on the upstream router.
inline constexpr BoolSetting upnpEnabled{"options/upnpEnabled", true};
inline constexpr BoolSetting upnpForwardEnabled{"options/upnpForwardEnabled", true};

// A fixed DNS server handed to the users instead of the detected one.
inline constexpr BoolSetting customDnsServerEnabled{"options/customDnsServerEnabled", false};
inline constexpr StringSetting customDnsServer{"options/customDnsServer", ""};

} // namespace OptionKeys

// Reading and writing through a store handle: the absent key yields the default, values are
// converted to the key's type on every read (ports keep their low 16 bits, whether the store
// hands back an integer or the text of one), and ports are written as integers.
inline QString settingValue(const QSettings &store, const StringSetting &setting)
{
    return store.value(QLatin1String(setting.key), QString::fromLatin1(setting.defaultValue)).toString();
}

inline bool settingValue(const QSettings &store, const BoolSetting &setting)
{
    return store.value(QLatin1String(setting.key), setting.defaultValue).toBool();
}

inline quint16 settingValue(const QSettings &store, const PortSetting &setting)
{
    const QVariant value = store.value(QLatin1String(setting.key), int(setting.defaultValue));
    return quint16(value.toLongLong() & 0xffff);
}

inline void storeSetting(QSettings &store, const StringSetting &setting, const QString &value)
{
    store.setValue(QLatin1String(setting.key), value);
}

inline void storeSetting(QSettings &store, const BoolSetting &setting, bool value)
{
    store.setValue(QLatin1String(setting.key), value);
}

inline void storeSetting(QSettings &store, const PortSetting &setting, quint16 value)
{
    store.setValue(QLatin1String(setting.key), int(value));
}
