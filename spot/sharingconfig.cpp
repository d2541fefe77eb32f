// SPDX-License-Identifier: GPL-3.0-or-later
// SharingConfig: reading one run's options from the settings store.
#include "spot/sharingconfig.h"

#include "spot/optionkeys.h"

#include <QStringList>

namespace {

const QString kNoSharing = QStringLiteral("nosharing");
const QString kAccessPoint = QStringLiteral("accesspoint");

int securityCode(const QString &text)
{
    if (text == QLatin1String("none"))
        return SharingConfig::OpenSecurity;
    if (text == QLatin1String("WEP"))
        return SharingConfig::WepSecurity;
    return SharingConfig::Wpa2Security;
}

QByteArray upToZero(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.left(zero);
}

void readSides(const QSettings &store, SharingConfig *config)
{
    config->repeater = settingValue(store, OptionKeys::wifiRepeaterEnabled);
    if (config->repeater) {
        config->sharing = true;
        config->publicName = settingValue(store, OptionKeys::wifiRepeaterNetworkInterfaceName);
        config->useAccessPoint = true;
        config->mode = SharingConfig::Bridge;
        return;
    }
    const QString publicName = settingValue(store, OptionKeys::publicNetworkInterfaceName);
    config->sharing = publicName != kNoSharing;
    config->publicName = config->sharing ? publicName : QString();
    config->privateName = settingValue(store, OptionKeys::privateNetworkInterfaceName);
    config->useAccessPoint = config->privateName == kAccessPoint;
    if (config->useAccessPoint)
        config->privateName.clear();
    config->mode = settingValue(store, OptionKeys::networkMode) == QLatin1String("bridge")
        ? SharingConfig::Bridge : SharingConfig::Router;
}

void readAddressPlan(const QSettings &store, SharingConfig *config)
{
    config->networkAddress = SharingConfig::parseAddress(settingValue(store, OptionKeys::networkAddress));
    config->subnetMask = SharingConfig::parseAddress(settingValue(store, OptionKeys::networkSubnetMask));
    config->dhcpEnabled = settingValue(store, OptionKeys::dhcpEnabled);
    config->poolStart = SharingConfig::parseAddress(settingValue(store, OptionKeys::dhcpPoolStart));
    config->poolEnd = SharingConfig::parseAddress(settingValue(store, OptionKeys::dhcpPoolEnd));
    config->upnpEnabled = settingValue(store, OptionKeys::upnpEnabled);
    config->upnpForwardEnabled = settingValue(store, OptionKeys::upnpForwardEnabled);
    config->customDnsEnabled = settingValue(store, OptionKeys::customDnsServerEnabled);
    config->customDnsServer = SharingConfig::parseAddress(settingValue(store, OptionKeys::customDnsServer));
}

void readWirelessNetwork(const QSettings &store, SharingConfig *config)
{
    config->repeaterNetworkName = settingValue(store, OptionKeys::wifiRepeaterNetworkName);
    config->repeaterNetworkKey = settingValue(store, OptionKeys::wifiRepeaterNetworkKey);
    if (config->repeater) {
        config->networkName = config->repeaterNetworkName.toLocal8Bit();
        config->networkKey = config->repeaterNetworkKey.toLocal8Bit();
    } else {
        config->networkName = settingValue(store, OptionKeys::networkName).toUtf8();
        config->networkKey = settingValue(store, OptionKeys::networkKey).toUtf8();
    }
    config->security = securityCode(settingValue(store, OptionKeys::networkSecurity));
}

} // namespace

SharingConfig SharingConfig::read(const QSettings &store)
{
    SharingConfig config;
    readSides(store, &config);
    readAddressPlan(store, &config);
    readWirelessNetwork(store, &config);
    return config;
}

int SharingConfig::upnpFlags() const
{
    if (mode == Bridge)
        return 1;
    if (!upnpEnabled)
        return 0;
    return upnpForwardEnabled ? 3 : 2;
}

QHostAddress SharingConfig::parseAddress(const QString &text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return {};
    quint32 value = 0;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return {};
        for (const QChar c : part)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return {};
        const uint number = part.toUInt();
        if (number > 255)
            return {};
        value = (value << 8) | number;
    }
    return QHostAddress(value);
}

QString SharingConfig::localText(const QByteArray &bytes)
{
    return QString::fromLocal8Bit(upToZero(bytes));
}

QString SharingConfig::utf8Text(const QByteArray &bytes)
{
    return QString::fromUtf8(upToZero(bytes));
}
