// SPDX-License-Identifier: GPL-3.0-or-later
// Starts like the program does and reports on stdout: "primary" once it runs as the primary
// instance, "instanceStarted" for every later start that greets it. Ends on SIGTERM.
#include "app/applicationidentity.h"
#include "app/singleapplication.h"
#include "platform/quitsignals.h"

#include <cstdio>

namespace {

void report(const char *line)
{
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    setApplicationIdentity();
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    SingleApplication application(argc, argv, false, SingleApplication::Mode::User, 100);
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &application, &QCoreApplication::quit);
    QObject::connect(&application, &SingleApplication::instanceStarted, [] { report("instanceStarted"); });
    report(application.isPrimary() ? "primary" : "not primary");
    return application.exec();
}
