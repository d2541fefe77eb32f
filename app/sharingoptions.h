// SPDX-License-Identifier: GPL-3.0-or-later
// The sharing configuration (group "options" of the store) as properties the pages bind to.
#pragma once

#include "spot/optionkeys.h"

#include <QObject>
#include <QSettings>
#include <QString>

// Base of the facade: one property per key of group "options", named like the key without its
// group. Every getter reads the store (no cached copy), with the key's default when it is
// absent; every setter compares with its getter's value and writes and signals only a real
// change, so writing a default to an absent key leaves it absent. Strings compare exactly
// (case-sensitive). Setters validate nothing: the pages check what they write.
class SharingOptions : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString publicNetworkInterfaceName READ publicNetworkInterfaceName
               WRITE setPublicNetworkInterfaceName NOTIFY publicNetworkInterfaceNameChanged)
    Q_PROPERTY(QString privateNetworkInterfaceName READ privateNetworkInterfaceName
               WRITE setPrivateNetworkInterfaceName NOTIFY privateNetworkInterfaceNameChanged)
    Q_PROPERTY(bool runningInterfaces READ runningInterfaces
               WRITE setRunningInterfaces NOTIFY runningInterfacesChanged)
    Q_PROPERTY(QString networkName READ networkName WRITE setNetworkName NOTIFY networkNameChanged)
    Q_PROPERTY(QString networkSecurity READ networkSecurity
               WRITE setNetworkSecurity NOTIFY networkSecurityChanged)
    Q_PROPERTY(QString networkKey READ networkKey WRITE setNetworkKey NOTIFY networkKeyChanged)
    Q_PROPERTY(bool wifiRepeaterEnabled READ wifiRepeaterEnabled
               WRITE setWifiRepeaterEnabled NOTIFY wifiRepeaterEnabledChanged)
    Q_PROPERTY(QString wifiRepeaterNetworkInterfaceName READ wifiRepeaterNetworkInterfaceName
               WRITE setWifiRepeaterNetworkInterfaceName NOTIFY wifiRepeaterNetworkInterfaceNameChanged)
    Q_PROPERTY(QString wifiRepeaterNetworkName READ wifiRepeaterNetworkName
               WRITE setWifiRepeaterNetworkName NOTIFY wifiRepeaterNetworkNameChanged)
    Q_PROPERTY(QString wifiRepeaterNetworkKey READ wifiRepeaterNetworkKey
               WRITE setWifiRepeaterNetworkKey NOTIFY wifiRepeaterNetworkKeyChanged)
    Q_PROPERTY(QString networkMode READ networkMode WRITE setNetworkMode NOTIFY networkModeChanged)
    Q_PROPERTY(QString networkAddress READ networkAddress
               WRITE setNetworkAddress NOTIFY networkAddressChanged)
    Q_PROPERTY(QString networkSubnetMask READ networkSubnetMask
               WRITE setNetworkSubnetMask NOTIFY networkSubnetMaskChanged)
    Q_PROPERTY(bool dhcpEnabled READ dhcpEnabled WRITE setDhcpEnabled NOTIFY dhcpEnabledChanged)
    Q_PROPERTY(QString dhcpPoolStart READ dhcpPoolStart WRITE setDhcpPoolStart NOTIFY dhcpPoolStartChanged)
    Q_PROPERTY(QString dhcpPoolEnd READ dhcpPoolEnd WRITE setDhcpPoolEnd NOTIFY dhcpPoolEndChanged)
    Q_PROPERTY(bool upnpEnabled READ upnpEnabled WRITE setUpnpEnabled NOTIFY upnpEnabledChanged)
    Q_PROPERTY(bool upnpForwardEnabled READ upnpForwardEnabled
               WRITE setUpnpForwardEnabled NOTIFY upnpForwardEnabledChanged)
    Q_PROPERTY(bool customDnsServerEnabled READ customDnsServerEnabled
               WRITE setCustomDnsServerEnabled NOTIFY customDnsServerEnabledChanged)
    Q_PROPERTY(QString customDnsServer READ customDnsServer
               WRITE setCustomDnsServer NOTIFY customDnsServerChanged)

public:
    // Opens the store of the application identity (organisation and application names).
    explicit SharingOptions(QObject *parent = nullptr);

    QString publicNetworkInterfaceName() const;
    QString privateNetworkInterfaceName() const;
    bool runningInterfaces() const;
    QString networkName() const;
    QString networkSecurity() const;
    QString networkKey() const;
    bool wifiRepeaterEnabled() const;
    QString wifiRepeaterNetworkInterfaceName() const;
    QString wifiRepeaterNetworkName() const;
    QString wifiRepeaterNetworkKey() const;
    QString networkMode() const;
    QString networkAddress() const;
    QString networkSubnetMask() const;
    bool dhcpEnabled() const;
    QString dhcpPoolStart() const;
    QString dhcpPoolEnd() const;
    bool upnpEnabled() const;
    bool upnpForwardEnabled() const;
    bool customDnsServerEnabled() const;
    QString customDnsServer() const;

    void setPublicNetworkInterfaceName(const QString &value);
    void setPrivateNetworkInterfaceName(const QString &value);
    void setRunningInterfaces(bool value);
    void setNetworkName(const QString &value);
    void setNetworkSecurity(const QString &value);
    void setNetworkKey(const QString &value);
    void setWifiRepeaterEnabled(bool value);
    void setWifiRepeaterNetworkInterfaceName(const QString &value);
    void setWifiRepeaterNetworkName(const QString &value);
    void setWifiRepeaterNetworkKey(const QString &value);
    void setNetworkMode(const QString &value);
    void setNetworkAddress(const QString &value);
    void setNetworkSubnetMask(const QString &value);
    void setDhcpEnabled(bool value);
    void setDhcpPoolStart(const QString &value);
    void setDhcpPoolEnd(const QString &value);
    void setUpnpEnabled(bool value);
    void setUpnpForwardEnabled(bool value);
    void setCustomDnsServerEnabled(bool value);
    void setCustomDnsServer(const QString &value);

signals:
    void publicNetworkInterfaceNameChanged();
    void privateNetworkInterfaceNameChanged();
    void runningInterfacesChanged();
    void networkNameChanged();
    void networkSecurityChanged();
    void networkKeyChanged();
    void wifiRepeaterEnabledChanged();
    void wifiRepeaterNetworkInterfaceNameChanged();
    void wifiRepeaterNetworkNameChanged();
    void wifiRepeaterNetworkKeyChanged();
    void networkModeChanged();
    void networkAddressChanged();
    void networkSubnetMaskChanged();
    void dhcpEnabledChanged();
    void dhcpPoolStartChanged();
    void dhcpPoolEndChanged();
    void upnpEnabledChanged();
    void upnpForwardEnabledChanged();
    void customDnsServerEnabledChanged();
    void customDnsServerChanged();

private:
    template <typename Setting, typename T>
    void write(const Setting &setting, const T &value, T (SharingOptions::*getter)() const,
               void (SharingOptions::*changed)());

    QSettings m_settings;
};
