// SPDX-License-Identifier: GPL-3.0-or-later
// tarnwick-headless in a lab host: its settings, its start and stop, and the lines it prints.
#pragma once

#include "tests/lab/processlines.h"

#include <QByteArrayList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class Lab;
class QProcess;

// The runner reads the program's settings store under XDG_CONFIG_HOME, which here is a
// temporary folder of its own, and prints one line on standard output for every change
// ("state Started", "event NoInternet", "user <address> <mac> <name>"). Only standard output
// is taken into output(), so the report stands there as printed. The object must go
// before the lab does; a runner still running then gets its stop sequence (SIGTERM) with
// time to undo what it set up.
class HeadlessRunner
{
public:
    using Options = QMap<QString, QString>; // options/<key> = value

    // `program` is the runner's executable, started in `host` of `lab`.
    HeadlessRunner(Lab &lab, const QString &host, const QString &program);
    ~HeadlessRunner();
    HeadlessRunner(const HeadlessRunner &) = delete;
    HeadlessRunner &operator=(const HeadlessRunner &) = delete;

    // Writes the options into the settings store and starts the runner; false when the
    // store could not be made or the process did not start.
    bool start(const Options &options);

    // The position of `text` (one line or several, without the last line end) at or after
    // output position `from`; -1 when it did not come within timeoutMs.
    int waitFor(const QByteArray &text, int timeoutMs, int from = 0);
    // Takes in what the runner printed since the last look.
    void read();
    // SIGTERM, then true when the runner ends by itself within timeoutMs with exit code 0.
    bool stop(int timeoutMs = 15000);
    // True when the runner ends (without being asked) within timeoutMs with exit code 0.
    bool waitForExit(int timeoutMs);
    bool running() const;

    // What it printed on standard output so far.
    const QByteArray &output() const;
    // The states of the "state <name>" lines at or after output position `from`.
    QByteArrayList states(int from = 0) const;
    // How many output lines are exactly `line`.
    int count(const QByteArray &line) const;
    // The packet engines' TAP devices in the runner's host: there exactly while the engines
    // are bound.
    QStringList engineTaps() const;

    QProcess *process() const { return m_process; }

private:
    Lab &m_lab;
    QString m_host;
    QString m_program;
    QTemporaryDir m_config;
    QProcess *m_process = nullptr; // owned by the lab
    std::unique_ptr<ProcessLines> m_lines;
};
