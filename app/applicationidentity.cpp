// SPDX-License-Identifier: GPL-3.0-or-later
// The program's fixed identity.
#include "app/applicationidentity.h"

#include <QCoreApplication>

void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orrinsby"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("orrinsby.example"));
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0.1"));
}
