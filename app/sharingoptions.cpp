// SPDX-License-Identifier: GPL-3.0-or-later
// The sharing configuration (group "options" of the store) as properties the pages bind to.
#include "app/sharingoptions.h"

SharingOptions::SharingOptions(QObject *parent)
    : QObject(parent)
{
}

template <typename Setting, typename T>
void SharingOptions::write(const Setting &setting, const T &value, T (SharingOptions::*getter)() const,
                           void (SharingOptions::*changed)())
{
    if ((this->*getter)() == value)
        return;
    storeSetting(m_settings, setting, value);
    emit(this->*changed)();
}

QString SharingOptions::publicNetworkInterfaceName() const
{
    return settingValue(m_settings, OptionKeys::publicNetworkInterfaceName);
}

QString SharingOptions::privateNetworkInterfaceName() const
{
    return settingValue(m_settings, OptionKeys::privateNetworkInterfaceName);
}

bool SharingOptions::runningInterfaces() const
{
    return settingValue(m_settings, OptionKeys::runningInterfaces);
}

QString SharingOptions::networkName() const
{
    return settingValue(m_settings, OptionKeys::networkName);
}

QString SharingOptions::networkSecurity() const
{
    return settingValue(m_settings, OptionKeys::networkSecurity);
}

QString SharingOptions::networkKey() const
{
    return settingValue(m_settings, OptionKeys::networkKey);
}

bool SharingOptions::wifiRepeaterEnabled() const
{
    return settingValue(m_settings, OptionKeys::wifiRepeaterEnabled);
}

QString SharingOptions::wifiRepeaterNetworkInterfaceName() const
{
    return settingValue(m_settings, OptionKeys::wifiRepeaterNetworkInterfaceName);
}

QString SharingOptions::wifiRepeaterNetworkName() const
{
    return settingValue(m_settings, OptionKeys::wifiRepeaterNetworkName);
}

QString SharingOptions::wifiRepeaterNetworkKey() const
{
    return settingValue(m_settings, OptionKeys::wifiRepeaterNetworkKey);
}

QString SharingOptions::networkMode() const
{
    return settingValue(m_settings, OptionKeys::networkMode);
}

QString SharingOptions::networkAddress() const
{
    return settingValue(m_settings, OptionKeys::networkAddress);
}

QString SharingOptions::networkSubnetMask() const
{
    return settingValue(m_settings, OptionKeys::networkSubnetMask);
}

bool SharingOptions::dhcpEnabled() const
{
    return settingValue(m_settings, OptionKeys::dhcpEnabled);
}

QString SharingOptions::dhcpPoolStart() const
{
    return settingValue(m_settings, OptionKeys::dhcpPoolStart);
}

QString SharingOptions::dhcpPoolEnd() const
{
    return settingValue(m_settings, OptionKeys::dhcpPoolEnd);
}

bool SharingOptions::upnpEnabled() const
{
    return settingValue(m_settings, OptionKeys::upnpEnabled);
}

bool SharingOptions::upnpForwardEnabled() const
{
    return settingValue(m_settings, OptionKeys::upnpForwardEnabled);
}

bool SharingOptions::customDnsServerEnabled() const
{
    return settingValue(m_settings, OptionKeys::customDnsServerEnabled);
}

QString SharingOptions::customDnsServer() const
{
    return settingValue(m_settings, OptionKeys::customDnsServer);
}

void SharingOptions::setPublicNetworkInterfaceName(const QString &value)
{
    write(OptionKeys::publicNetworkInterfaceName, value, &SharingOptions::publicNetworkInterfaceName,
          &SharingOptions::publicNetworkInterfaceNameChanged);
}

void SharingOptions::setPrivateNetworkInterfaceName(const QString &value)
{
    write(OptionKeys::privateNetworkInterfaceName, value, &SharingOptions::privateNetworkInterfaceName,
          &SharingOptions::privateNetworkInterfaceNameChanged);
}

void SharingOptions::setRunningInterfaces(bool value)
{
    write(OptionKeys::runningInterfaces, value, &SharingOptions::runningInterfaces,
          &SharingOptions::runningInterfacesChanged);
}

void SharingOptions::setNetworkName(const QString &value)
{
    write(OptionKeys::networkName, value, &SharingOptions::networkName,
          &SharingOptions::networkNameChanged);
}

void SharingOptions::setNetworkSecurity(const QString &value)
{
    write(OptionKeys::networkSecurity, value, &SharingOptions::networkSecurity,
          &SharingOptions::networkSecurityChanged);
}

void SharingOptions::setNetworkKey(const QString &value)
{
    write(OptionKeys::networkKey, value, &SharingOptions::networkKey,
          &SharingOptions::networkKeyChanged);
}

void SharingOptions::setWifiRepeaterEnabled(bool value)
{
    write(OptionKeys::wifiRepeaterEnabled, value, &SharingOptions::wifiRepeaterEnabled,
          &SharingOptions::wifiRepeaterEnabledChanged);
}

void SharingOptions::setWifiRepeaterNetworkInterfaceName(const QString &value)
{
    write(OptionKeys::wifiRepeaterNetworkInterfaceName, value, &SharingOptions::wifiRepeaterNetworkInterfaceName,
          &SharingOptions::wifiRepeaterNetworkInterfaceNameChanged);
}

void SharingOptions::setWifiRepeaterNetworkName(const QString &value)
{
    write(OptionKeys::wifiRepeaterNetworkName, value, &SharingOptions::wifiRepeaterNetworkName,
          &SharingOptions::wifiRepeaterNetworkNameChanged);
}

void SharingOptions::setWifiRepeaterNetworkKey(const QString &value)
{
    write(OptionKeys::wifiRepeaterNetworkKey, value, &SharingOptions::wifiRepeaterNetworkKey,
          &SharingOptions::wifiRepeaterNetworkKeyChanged);
}

void SharingOptions::setNetworkMode(const QString &value)
{
    write(OptionKeys::networkMode, value, &SharingOptions::networkMode,
          &SharingOptions::networkModeChanged);
}

void SharingOptions::setNetworkAddress(const QString &value)
{
    write(OptionKeys::networkAddress, value, &SharingOptions::networkAddress,
          &SharingOptions::networkAddressChanged);
}

void SharingOptions::setNetworkSubnetMask(const QString &value)
{
    write(OptionKeys::networkSubnetMask, value, &SharingOptions::networkSubnetMask,
          &SharingOptions::networkSubnetMaskChanged);
}

void SharingOptions::setDhcpEnabled(bool value)
{
    write(OptionKeys::dhcpEnabled, value, &SharingOptions::dhcpEnabled,
          &SharingOptions::dhcpEnabledChanged);
}

void SharingOptions::setDhcpPoolStart(const QString &value)
{
    write(OptionKeys::dhcpPoolStart, value, &SharingOptions::dhcpPoolStart,
          &SharingOptions::dhcpPoolStartChanged);
}

void SharingOptions::setDhcpPoolEnd(const QString &value)
{
    write(OptionKeys::dhcpPoolEnd, value, &SharingOptions::dhcpPoolEnd,
          &SharingOptions::dhcpPoolEndChanged);
}

void SharingOptions::setUpnpEnabled(bool value)
{
    write(OptionKeys::upnpEnabled, value, &SharingOptions::upnpEnabled,
          &SharingOptions::upnpEnabledChanged);
}

void SharingOptions::setUpnpForwardEnabled(bool value)
{
    write(OptionKeys::upnpForwardEnabled, value, &SharingOptions::upnpForwardEnabled,
          &SharingOptions::upnpForwardEnabledChanged);
}

void SharingOptions::setCustomDnsServerEnabled(bool value)
{
    write(OptionKeys::customDnsServerEnabled, value, &SharingOptions::customDnsServerEnabled,
          &SharingOptions::customDnsServerEnabledChanged);
}

void SharingOptions::setCustomDnsServer(const QString &value)
{
    write(OptionKeys::customDnsServer, value, &SharingOptions::customDnsServer,
          &SharingOptions::customDnsServerChanged);
}
