// SPDX-License-Identifier: GPL-3.0-or-later
// The application object with the single-instance guard.
#include "app/singleapplication.h"

#include "app/instancekey.h"
#include "app/singleapplicationprivate.h"

#include <cstdlib>

SingleApplication::SingleApplication(int &argc, char **argv, bool allowSecondary, Mode mode,
                                     int timeoutMs)
    : QApplication(argc, argv)
{
    // Mode::User is the only mode: the user name is part of the identity, and the server
    // admits the user's own processes only.
    Q_UNUSED(mode);
    m_private = std::make_unique<SingleApplicationPrivate>(this, ::instanceKey(currentInstanceIdentity()),
                                                           timeoutMs);
    if (m_private->start(allowSecondary) == SingleApplicationPrivate::Role::HandedOver) {
        m_private->release();
        std::exit(EXIT_SUCCESS);
    }
}

SingleApplication::~SingleApplication()
{
    m_private->release();
}

bool SingleApplication::isPrimary() const
{
    return m_private->role() == SingleApplicationPrivate::Role::Primary;
}

bool SingleApplication::isSecondary() const
{
    return m_private->role() == SingleApplicationPrivate::Role::Secondary;
}

quint32 SingleApplication::instanceId() const
{
    return m_private->instanceNumber();
}

QString SingleApplication::instanceKey() const
{
    return m_private->key();
}
