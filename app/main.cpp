// SPDX-License-Identifier: GPL-3.0-or-later
// Entry point: identity, single-instance guard and the event loop.
#include "app/applicationidentity.h"
#include "app/singleapplication.h"
#include "platform/quitsignals.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    setApplicationIdentity();
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);

    // The application-wide proxy factory is installed here, before any network access,
    // once the server access layer exists. Until then Qt's default proxy handling applies.

    // Returns only in the primary instance; a later start greets the primary and ends here
    // with exit code 0.
    SingleApplication application(argc, argv, false, SingleApplication::Mode::User, 100);

    // No window exists yet, so a later start has nothing to bring to the front; the
    // instanceStarted() notification stays unconnected until the main window is built.

    // An interrupt or terminate request leaves the event loop, so that the destructor of
    // the application object releases the single-instance state.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &application, &QCoreApplication::quit);

    return application.exec();
}
