// SPDX-License-Identifier: GPL-3.0-or-later
// Derivation of the single-instance key from the program's and the user's identity.
#include "app/instancekey.h"

#include "platform/username.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QStandardPaths>

InstanceIdentity currentInstanceIdentity()
{
    InstanceIdentity identity;
    identity.applicationName = QCoreApplication::applicationName();
    identity.organizationName = QCoreApplication::organizationName();
    identity.organizationDomain = QCoreApplication::organizationDomain();
    identity.applicationVersion = QCoreApplication::applicationVersion();
    identity.executablePath = QCoreApplication::applicationFilePath();
    identity.userName = effectiveUserName();
    if (identity.userName.isEmpty())
        identity.homePaths = QStandardPaths::standardLocations(QStandardPaths::HomeLocation);
    return identity;
}

QString instanceKey(const InstanceIdentity &identity)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData("SingleApplication", 17);
    hash.addData(identity.applicationName.toUtf8());
    hash.addData(identity.organizationName.toUtf8());
    hash.addData(identity.organizationDomain.toUtf8());
    hash.addData(identity.applicationVersion.toUtf8());
    hash.addData(identity.executablePath.toLower().toUtf8());
    if (!identity.userName.isEmpty())
        hash.addData(identity.userName.toUtf8());
    else
        hash.addData(identity.homePaths.join(QString()).toUtf8());
    QByteArray key = hash.result().toBase64();
    key.replace('/', '_');
    return QString::fromLatin1(key);
}
