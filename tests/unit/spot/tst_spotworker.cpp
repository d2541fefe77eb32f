// SPDX-License-Identifier: GPL-3.0-or-later
// Spot worker decisions that need no network: refusals, configuration errors, ignored calls.
//
// The worker runs on its own thread as in the program; its signals arrive here queued, so
// the enumerations must travel as registered meta-types. Every interface name used here
// is longer than any host interface name can be, so no start ever reaches the host.
#include "spot/spotworker.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using Options = QMap<QString, QVariant>;

namespace {

const QString kNoSuchInterface = QStringLiteral("no-such-interface-a");

} // namespace

class TestSpotWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void configurationErrors_data();
    void configurationErrors();
    void startBeforeInitDoesNothing();
    void stopWhileStoppedDoesNothing();
    void everyStartReadsTheStoreAgain();
    void closeEndsEverything();

private:
    void store(const Options &options);
    QList<int> states() const;

    QTemporaryDir m_dir;
    QThread m_thread;
    SpotWorker *m_worker = nullptr;
    std::unique_ptr<QSignalSpy> m_states;
    std::unique_ptr<QSignalSpy> m_errors;
    std::unique_ptr<QSignalSpy> m_events;
};

void TestSpotWorker::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("Orrinsby"));
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
}

void TestSpotWorker::init()
{
    QSettings().clear();
    m_worker = new SpotWorker;
    m_worker->moveToThread(&m_thread);
    m_thread.start();
    m_states = std::make_unique<QSignalSpy>(m_worker, &SpotWorker::stateChanged);
    m_errors = std::make_unique<QSignalSpy>(m_worker, &SpotWorker::error);
    m_events = std::make_unique<QSignalSpy>(m_worker, &SpotWorker::newEvent);
}

void TestSpotWorker::cleanup()
{
    QMetaObject::invokeMethod(m_worker, "close", Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    m_states.reset();
    m_errors.reset();
    m_events.reset();
    delete m_worker;
    m_worker = nullptr;
}

void TestSpotWorker::store(const Options &options)
{
    QSettings settings;
    for (auto it = options.cbegin(); it != options.cend(); ++it)
        settings.setValue("options/" + it.key(), it.value());
}

QList<int> TestSpotWorker::states() const
{
    QList<int> values;
    for (const QList<QVariant> &arguments : *m_states)
        values << arguments.at(0).value<SpotWorker::State>();
    return values;
}

void TestSpotWorker::configurationErrors_data()
{
    QTest::addColumn<Options>("options");
    QTest::newRow("empty store: no interface chosen") << Options{};
    QTest::newRow("unknown public") << Options{{"publicNetworkInterfaceName", kNoSuchInterface},
                                               {"privateNetworkInterfaceName", kNoSuchInterface}};
    QTest::newRow("nosharing, unknown private") << Options{{"publicNetworkInterfaceName", "nosharing"},
                                                           {"privateNetworkInterfaceName", kNoSuchInterface}};
    QTest::newRow("access point unavailable") << Options{{"publicNetworkInterfaceName", "nosharing"},
                                                         {"privateNetworkInterfaceName", "accesspoint"}};
    QTest::newRow("repeater needs an access point") << Options{{"wifiRepeaterEnabled", true},
                                                               {"wifiRepeaterNetworkInterfaceName", kNoSuchInterface}};
}

// Stop runs first, then the error; nothing else is reported.
void TestSpotWorker::configurationErrors()
{
    QFETCH(Options, options);
    store(options);
    QMetaObject::invokeMethod(m_worker, "init", Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(m_worker, "start", Qt::QueuedConnection);
    QTRY_COMPARE(m_errors->size(), 1);
    QCOMPARE(m_errors->first().at(0).value<SpotWorker::Error>(), SpotWorker::ConfigurationError);
    QCOMPARE(states(), (QList<int>{SpotWorker::Starting, SpotWorker::Stopping, SpotWorker::Stopped}));
    QCOMPARE(m_events->size(), 0);
    QCOMPARE(m_worker->state(), SpotWorker::Stopped);
}

void TestSpotWorker::startBeforeInitDoesNothing()
{
    store({{"publicNetworkInterfaceName", kNoSuchInterface}});
    QMetaObject::invokeMethod(m_worker, "start", Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(m_worker, "stop", Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
    QCOMPARE(m_states->size(), 0);
    QCOMPARE(m_errors->size(), 0);
    QCOMPARE(m_worker->state(), SpotWorker::Stopped);
}

void TestSpotWorker::stopWhileStoppedDoesNothing()
{
    QMetaObject::invokeMethod(m_worker, "init", Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(m_worker, "stop", Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(m_worker, "stop", Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
    QCOMPARE(m_states->size(), 0);
    QCOMPARE(m_worker->state(), SpotWorker::Stopped);
}

// A start after a configuration error reads the store afresh: the second one fails on the
// private side only when the first failed on the public one, and both report once.
void TestSpotWorker::everyStartReadsTheStoreAgain()
{
    QMetaObject::invokeMethod(m_worker, "init", Qt::BlockingQueuedConnection);
    store({{"publicNetworkInterfaceName", kNoSuchInterface}});
    QMetaObject::invokeMethod(m_worker, "start", Qt::QueuedConnection);
    QTRY_COMPARE(m_errors->size(), 1);
    store({{"publicNetworkInterfaceName", "nosharing"}, {"privateNetworkInterfaceName", "accesspoint"}});
    QMetaObject::invokeMethod(m_worker, "start", Qt::QueuedConnection);
    QTRY_COMPARE(m_errors->size(), 2);
    QCOMPARE(states().size(), 6);
}

// After close() the worker owns nothing: starts and stops are ignored, and a second
// close() is harmless.
void TestSpotWorker::closeEndsEverything()
{
    QMetaObject::invokeMethod(m_worker, "init", Qt::BlockingQueuedConnection);
    QVERIFY(m_worker->arpTable() && m_worker->upTime() && m_worker->upnpService());
    QVERIFY(m_worker->wyndlink() && m_worker->wifiHostedNetwork() && m_worker->wifiConnect());
    QVERIFY(!m_worker->wyndlink()->isAvailable());
    QVERIFY(!m_worker->wifiHostedNetwork()->isAvailable());
    QMetaObject::invokeMethod(m_worker, "close", Qt::BlockingQueuedConnection);
    QVERIFY(!m_worker->arpTable() && !m_worker->upTime() && !m_worker->wifiConnect());
    QMetaObject::invokeMethod(m_worker, "start", Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
    QCOMPARE(m_states->size(), 0);
}

QTEST_GUILESS_MAIN(TestSpotWorker)
#include "tst_spotworker.moc"
