// SPDX-License-Identifier: GPL-3.0-or-later
// One connected hotspot client as the user table keeps it.
#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QtGlobal>

// How a user first came into the table.
enum UserOrigin : quint32 {
    UserFromDhcp = 0,    // learned from a DHCP acknowledgement
    UserFromTraffic = 1, // learned from the client's own traffic
};

// Direction of a counted frame, as passed to ARPTable::update() and UpTime::update().
enum UserTrafficKind : quint32 {
    UserSent = 1,     // the user sent the frame
    UserReceived = 2, // the frame was for the user (any value other than 1 counts so)
};

// The counters are plain 32-bit values that wrap at 2^32, like the totals of UpTime.
struct UserRecord {
    quint32 origin = UserFromDhcp;
    QByteArray mac;           // 6 bytes
    QByteArray hostName;      // DHCP option 12; may be empty
    quint32 lastSeen = 0;     // UpTime seconds of the last counted frame or of the addition
    quint8 inactive = 0;      // set by the idle check, cleared by traffic
    quint32 bytesSent = 0;
    quint32 bytesReceived = 0;
    quint32 packetsSent = 0;
    quint32 packetsReceived = 0;
};

Q_DECLARE_METATYPE(UserRecord)
