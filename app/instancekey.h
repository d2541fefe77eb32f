// SPDX-License-Identifier: GPL-3.0-or-later
// The key that names the single-instance shared memory block and local server.
#pragma once

#include <QString>
#include <QStringList>

// Everything that distinguishes one installed program run by one user from another.
struct InstanceIdentity {
    QString applicationName;
    QString organizationName;
    QString organizationDomain;
    QString applicationVersion;
    QString executablePath; // absolute
    QString userName;       // empty when it cannot be had
    QStringList homePaths;  // stands in for the user name when that is empty
};

// The identity of this process: the application object's name, organisation and version,
// its executable file and its effective user. Needs an existing application object.
InstanceIdentity currentInstanceIdentity();

// SHA-256 over "SingleApplication", the application name, organisation name, organisation
// domain, version, lower-cased executable path and user name (or the home paths joined
// without separator), each as UTF-8; the digest in Base64 with every '/' turned into '_'.
// The result is 44 characters long and safe as a file name.
QString instanceKey(const InstanceIdentity &identity);
