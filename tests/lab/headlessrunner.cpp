// SPDX-License-Identifier: GPL-3.0-or-later
// tarnwick-headless in a lab host: its settings, its start and stop, and the lines it prints.
#include "tests/lab/headlessrunner.h"

#include "tests/lab/lab.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>

namespace {

// Where the program keeps its settings below XDG_CONFIG_HOME: organisation/application.
const QString kSettingsFile = QStringLiteral("Orrinsby/Tarnwick.conf");
const QByteArray kNoOutput;

} // namespace

HeadlessRunner::HeadlessRunner(Lab &lab, const QString &host, const QString &program)
    : m_lab(lab)
    , m_host(host)
    , m_program(program)
{
}

HeadlessRunner::~HeadlessRunner()
{
    if (running())
        Lab::stop(m_process, 10000);
}

bool HeadlessRunner::start(const Options &options)
{
    if (!m_config.isValid() || running())
        return false;
    {
        QSettings store(m_config.filePath(kSettingsFile), QSettings::IniFormat);
        for (auto it = options.cbegin(); it != options.cend(); ++it)
            store.setValue("options/" + it.key(), it.value());
        store.sync();
        if (store.status() != QSettings::NoError)
            return false;
    }
    m_process = m_lab.start(m_host, {"env", "XDG_CONFIG_HOME=" + m_config.path(), m_program});
    m_lines = std::make_unique<ProcessLines>(m_process, ProcessLines::Channels::StandardOutput);
    return m_process->state() != QProcess::NotRunning;
}

int HeadlessRunner::waitFor(const QByteArray &text, int timeoutMs, int from)
{
    return m_lines ? m_lines->waitFor(text, timeoutMs, from) : -1;
}

void HeadlessRunner::read()
{
    if (m_lines)
        m_lines->read();
}

bool HeadlessRunner::stop(int timeoutMs)
{
    if (!m_process)
        return false;
    m_process->terminate();
    return waitForExit(timeoutMs);
}

bool HeadlessRunner::waitForExit(int timeoutMs)
{
    if (!m_process)
        return false;
    if (m_process->state() != QProcess::NotRunning && !m_process->waitForFinished(timeoutMs))
        return false;
    read();
    return m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
}

bool HeadlessRunner::running() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

const QByteArray &HeadlessRunner::output() const
{
    return m_lines ? m_lines->seen() : kNoOutput;
}

QByteArrayList HeadlessRunner::states(int from) const
{
    QByteArrayList states;
    for (const QByteArray &line : output().mid(from).split('\n'))
        if (line.startsWith("state "))
            states << line.mid(6);
    return states;
}

int HeadlessRunner::count(const QByteArray &line) const
{
    return int(output().split('\n').count(line));
}

QStringList HeadlessRunner::engineTaps() const
{
    QStringList names;
    const QByteArray json = m_lab.ip(m_host, {"-j", "link", "show"}).out;
    for (const QJsonValue &link : QJsonDocument::fromJson(json).array()) {
        const QString name = link.toObject().value("ifname").toString();
        if (name.startsWith(QLatin1String("twk")))
            names << name;
    }
    return names;
}
