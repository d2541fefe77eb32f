// SPDX-License-Identifier: GPL-3.0-or-later
// SharingConfig: the user's choices for one sharing run, read once from the settings store.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QSettings>
#include <QString>

// A snapshot taken at the start of sharing; later edits of the store apply to the next run.
// With the repeater on, the Internet side is the repeater's adapter, the private side is
// always an access point, the mode is bridge, and the access point repeats the upstream
// network's name and key.
struct SharingConfig {
    enum Mode { Router = 0, Bridge = 1 };
    // The security of an ad hoc network.
    enum Security { OpenSecurity = 0, WepSecurity = 1, Wpa2Security = 2 };

    bool repeater = false;
    bool sharing = true;          // the Internet side is in use ("nosharing" turns it off)
    QString publicName;           // adapter name of the Internet side
    bool useAccessPoint = false;  // the private side is one of the program's access points
    QString privateName;          // adapter name of the private side, unless useAccessPoint
    int mode = Router;

    QHostAddress networkAddress;  // null when the stored text is no dotted quad
    QHostAddress subnetMask;
    bool dhcpEnabled = true;
    QHostAddress poolStart;
    QHostAddress poolEnd;
    bool upnpEnabled = true;
    bool upnpForwardEnabled = true;
    bool customDnsEnabled = false;
    QHostAddress customDnsServer;

    QString repeaterNetworkName;
    QString repeaterNetworkKey;
    // Name and key of the network the program opens: the repeater network's in the local
    // 8-bit encoding with the repeater on, else the UTF-8 form of the stored ones.
    QByteArray networkName;
    QByteArray networkKey;
    int security = Wpa2Security;

    static SharingConfig read(const QSettings &store);

    // The port mapping service's flags for this run (1 client, 2 server, 3 both), or 0 when
    // no UPnP runs at all.
    int upnpFlags() const;

    // A strict IPv4 dotted quad (four decimal numbers 0 to 255); anything else is null.
    static QHostAddress parseAddress(const QString &text);
    // Bytes up to the first zero byte, decoded from the local 8-bit encoding or from UTF-8.
    static QString localText(const QByteArray &bytes);
    static QString utf8Text(const QByteArray &bytes);
};
