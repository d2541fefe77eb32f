// SPDX-License-Identifier: GPL-3.0-or-later
// tarnwick-headless: one sharing run without a user interface, reported line by line.
//
// It reads the same settings store as the program, runs the spot worker on a thread of its
// own, starts sharing and prints every change of the worker as one line on standard output
// ("state Started", "event NoInternet", "error ConfigurationError"). An interrupt or
// terminate request runs the stop sequence. The runner ends with exit code 0 once the
// worker is back in "state Stopped", whether a request or the worker itself stopped it
// (nothing starts the worker again); without the privileges to change the network it
// refuses at once with exit code 1.
//
// The user table is reported too: "user <address> <mac> <host name>" when a user appears or
// changes its MAC or host name ("-" for no name), "user <address> gone" when it leaves.
#include "app/applicationidentity.h"
#include "engine/arptable.h"
#include "platform/networkprivileges.h"
#include "platform/quitsignals.h"
#include "spot/spotworker.h"

#include <QCoreApplication>
#include <QHash>
#include <QHostAddress>
#include <QtEndian>
#include <QMetaEnum>
#include <QThread>

#include <cstdio>

namespace {

template <typename Enum>
void report(const char *kind, Enum value)
{
    const char *name = QMetaEnum::fromType<Enum>().valueToKey(int(value));
    std::printf("%s %s\n", kind, name ? name : "?");
    std::fflush(stdout);
}

// The table keys addresses in network order.
QString addressText(quint32 key)
{
    return QHostAddress(qFromBigEndian(key)).toString();
}

// One word per field: a host name is a client's free text, so blanks and control bytes
// become '?'.
QByteArray userLine(quint32 address, const UserRecord &user)
{
    QByteArray name = user.hostName.isEmpty() ? QByteArray("-") : user.hostName;
    for (char &c : name)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f)
            c = '?';
    return addressText(address).toLatin1() + ' ' + user.mac.toHex(':') + ' ' + name;
}

// Owns the worker and its thread; finish() closes both and ends the event loop, once.
class HeadlessRun
{
public:
    explicit HeadlessRun(QCoreApplication *application)
        : m_application(application)
    {
        m_worker->moveToThread(&m_thread);
        m_thread.setObjectName(QStringLiteral("spot worker"));
    }

    ~HeadlessRun()
    {
        m_thread.quit();
        m_thread.wait();
        delete m_worker;
    }

    void begin()
    {
        QObject::connect(m_worker, &SpotWorker::stateChanged, m_application, [this](SpotWorker::State state) {
            report("state", state);
            if (state == SpotWorker::Stopped)
                finish();
        });
        QObject::connect(m_worker, &SpotWorker::newEvent, m_application,
                         [](SpotWorker::Event event) { report("event", event); });
        QObject::connect(m_worker, &SpotWorker::error, m_application,
                         [](SpotWorker::Error error) { report("error", error); });
        m_thread.start();
        QMetaObject::invokeMethod(m_worker, "init", Qt::BlockingQueuedConnection);
        QObject::connect(m_worker->arpTable(), &ARPTable::changed, m_application, [this] { reportUsers(); },
                         Qt::QueuedConnection);
        QMetaObject::invokeMethod(m_worker, "start", Qt::QueuedConnection);
    }

    // Stops the worker; what it reported until then is queued here before the check.
    void quitRequested()
    {
        QMetaObject::invokeMethod(m_worker, "stop", Qt::BlockingQueuedConnection);
        QMetaObject::invokeMethod(m_application, [this] {
            if (m_worker->state() == SpotWorker::Stopped)
                finish();
        }, Qt::QueuedConnection);
    }

private:
    // Prints what changed in the user table since the last report. The table is gone after
    // close(), so nothing is read once the run is finishing.
    void reportUsers()
    {
        if (m_finished)
            return;
        const QHash<quint32, UserRecord> users = m_worker->arpTable()->users();
        for (auto it = users.cbegin(); it != users.cend(); ++it) {
            const QByteArray line = userLine(it.key(), it.value());
            if (m_listed.value(it.key()) != line) {
                m_listed.insert(it.key(), line);
                std::printf("user %s\n", line.constData());
            }
        }
        for (auto it = m_listed.begin(); it != m_listed.end();) {
            if (users.contains(it.key())) {
                ++it;
                continue;
            }
            std::printf("user %s gone\n", qPrintable(addressText(it.key())));
            it = m_listed.erase(it);
        }
        std::fflush(stdout);
    }

    // The quit is queued, so lines the worker reported before close() are printed first.
    void finish()
    {
        if (m_finished)
            return;
        m_finished = true;
        QMetaObject::invokeMethod(m_worker, "close", Qt::BlockingQueuedConnection);
        QMetaObject::invokeMethod(m_application, &QCoreApplication::quit, Qt::QueuedConnection);
    }

    QCoreApplication *m_application;
    QThread m_thread;
    SpotWorker *m_worker = new SpotWorker;
    bool m_finished = false;
    QHash<quint32, QByteArray> m_listed; // the last line printed per user address
};

} // namespace

int main(int argc, char *argv[])
{
    setApplicationIdentity();
    QCoreApplication application(argc, argv);

    const QStringList missing = missingNetworkPrivileges();
    if (!missing.isEmpty()) {
        std::fprintf(stderr, "tarnwick-headless: sharing needs root or the capabilities CAP_NET_ADMIN, "
                             "CAP_NET_RAW, CAP_BPF and CAP_NET_BIND_SERVICE; missing: %s\n",
                     qPrintable(missing.join(QStringLiteral(", "))));
        return 1;
    }

    HeadlessRun run(&application);
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &application, [&run] { run.quitRequested(); });
    run.begin();
    return application.exec();
}
