// SPDX-License-Identifier: GPL-3.0-or-later
// Real program starts: hand-over, installs at other paths, and recovery after an instance
// was killed or ended normally. Every test runs its own copy of the probe, because the key
// contains the executable's path.
#include "app/applicationidentity.h"
#include "app/instancekey.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSharedMemory>
#include <QSystemSemaphore>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <memory>

namespace {

constexpr int kWaitMs = 10000;

// The record in the shared block as the primary keeps it.
struct RecordView {
    bool exists = false;
    bool primary = false;
    qint64 primaryPid = 0;
};

// The block's lock semaphore belongs to the process that created it; a killed creator can no
// longer remove it, and every run of the test uses a key of its own. Taking the semaphore
// over and dropping it removes it, also when the test fails half-way.
struct LockCleanup {
    QString key;
    ~LockCleanup() { QSystemSemaphore(key, 1, QSystemSemaphore::Create); }
};

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void secondStartHandsOver();
    void copyAtAnotherPathRunsBeside();
    void startAfterKilledPrimaryBecomesPrimary();
    void startAfterNormalEndBecomesPrimary();
    void simultaneousStartsLeaveOnePrimary();

private:
    QString copyProbe(const QString &directory);
    std::unique_ptr<QProcess> start(const QString &program);
    static bool waitForLines(QProcess *process, const QByteArray &line, int count);
    static void terminate(QProcess *process);
    static QString keyOf(const QString &program);
    static RecordView readRecord(const QString &key);
    static RecordView readRecord(QSharedMemory &block);

    QTemporaryDir m_dir;
};

void TestSingleInstance::initTestCase()
{
    setApplicationIdentity();
    QVERIFY(m_dir.isValid());
    QVERIFY(QFile::exists(QStringLiteral(SINGLEPROBE_PATH)));
}

QString TestSingleInstance::copyProbe(const QString &directory)
{
    const QString folder = m_dir.filePath(directory);
    QDir().mkpath(folder);
    const QString program = folder + QStringLiteral("/singleprobe");
    if (!QFile::copy(QStringLiteral(SINGLEPROBE_PATH), program))
        return QString();
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return program;
}

std::unique_ptr<QProcess> TestSingleInstance::start(const QString &program)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // No display is needed; the minimal platform plugin (unlike offscreen) ends without leaks.
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("minimal"));
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, QStringList());
    process->waitForStarted(kWaitMs);
    return process;
}

// Waits until `process` has printed `line` at least `count` times.
bool TestSingleInstance::waitForLines(QProcess *process, const QByteArray &line, int count)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const QList<QByteArray> lines = process->peek(1 << 20).split('\n');
        if (lines.count(line) >= count)
            return true;
        if (timer.hasExpired(kWaitMs) || process->state() == QProcess::NotRunning)
            return false;
        process->waitForReadyRead(100);
    }
}

void TestSingleInstance::terminate(QProcess *process)
{
    if (process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(kWaitMs)) {
        process->kill();
        process->waitForFinished(kWaitMs);
    }
}

QString TestSingleInstance::keyOf(const QString &program)
{
    InstanceIdentity identity = currentInstanceIdentity();
    identity.executablePath = QFileInfo(program).canonicalFilePath();
    return instanceKey(identity);
}

// Attaches only for the read. When nothing else is attached any more, detaching removes the
// block, so a test that needs a stale block to stay reads it through an attached one.
RecordView TestSingleInstance::readRecord(const QString &key)
{
    QSharedMemory block(key);
    if (!block.attach(QSharedMemory::ReadOnly))
        return RecordView();
    const RecordView view = readRecord(block);
    block.detach();
    return view;
}

RecordView TestSingleInstance::readRecord(QSharedMemory &block)
{
    RecordView view;
    struct {
        quint8 primary;
        quint32 secondaryCount;
        qint64 primaryPid;
    } record{};
    if (block.lock() && block.size() >= int(sizeof(record))) {
        std::memcpy(&record, block.constData(), sizeof(record));
        view.exists = true;
        view.primary = record.primary != 0;
        view.primaryPid = record.primaryPid;
        block.unlock();
    }
    return view;
}

void TestSingleInstance::secondStartHandsOver()
{
    const QString program = copyProbe(QStringLiteral("handover"));
    QVERIFY(!program.isEmpty());
    auto first = start(program);
    QVERIFY(waitForLines(first.get(), "primary", 1));
    const RecordView running = readRecord(keyOf(program));
    QVERIFY(running.exists);
    QVERIFY(running.primary);
    QCOMPARE(running.primaryPid, first->processId());

    for (int i = 1; i <= 2; ++i) {
        auto second = start(program);
        QVERIFY(second->waitForFinished(kWaitMs));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(!second->readAllStandardOutput().contains("primary"));
        QVERIFY(waitForLines(first.get(), "instanceStarted", i));
    }
    QCOMPARE(first->state(), QProcess::Running);
    terminate(first.get());
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
}

void TestSingleInstance::copyAtAnotherPathRunsBeside()
{
    const QString programA = copyProbe(QStringLiteral("besideA"));
    const QString programB = copyProbe(QStringLiteral("besideB"));
    QVERIFY(!programA.isEmpty() && !programB.isEmpty());
    QVERIFY(keyOf(programA) != keyOf(programB));
    auto a = start(programA);
    QVERIFY(waitForLines(a.get(), "primary", 1));
    auto b = start(programB);
    QVERIFY(waitForLines(b.get(), "primary", 1));
    QTest::qWait(200);
    QCOMPARE(a->state(), QProcess::Running);
    QCOMPARE(b->state(), QProcess::Running);
    QVERIFY(!a->peek(1 << 20).contains("instanceStarted"));
    terminate(a.get());
    terminate(b.get());
}

void TestSingleInstance::startAfterKilledPrimaryBecomesPrimary()
{
    const QString program = copyProbe(QStringLiteral("killed"));
    QVERIFY(!program.isEmpty());
    const QString key = keyOf(program);
    const LockCleanup cleanup{key};
    auto first = start(program);
    QVERIFY(waitForLines(first.get(), "primary", 1));
    // Read through an attachment held until the end: a short one would remove the orphaned
    // block when it detaches, and the next start would not meet the stale record.
    QSharedMemory block(key);
    QVERIFY(block.attach(QSharedMemory::ReadOnly));
    const qint64 killedPid = first->processId();
    first->kill();
    QVERIFY(first->waitForFinished(kWaitMs));

    // What a killed primary leaves behind: the block still names it, the socket file stays.
    const RecordView stale = readRecord(block);
    QVERIFY(stale.exists);
    QVERIFY(stale.primary);
    QCOMPARE(stale.primaryPid, killedPid);
    QVERIFY(QFile::exists(QDir::tempPath() + QLatin1Char('/') + key));

    auto next = start(program);
    QVERIFY(waitForLines(next.get(), "primary", 1));
    QCOMPARE(readRecord(block).primaryPid, next->processId());
    // Its server works in place of the stale one.
    auto third = start(program);
    QVERIFY(third->waitForFinished(kWaitMs));
    QCOMPARE(third->exitCode(), 0);
    QVERIFY(waitForLines(next.get(), "instanceStarted", 1));
    terminate(next.get());
    QCOMPARE(next->exitCode(), 0);
    const RecordView released = readRecord(block);
    QVERIFY(!released.primary);
    QCOMPARE(released.primaryPid, qint64(-1));
}

void TestSingleInstance::startAfterNormalEndBecomesPrimary()
{
    const QString program = copyProbe(QStringLiteral("ended"));
    QVERIFY(!program.isEmpty());
    const QString key = keyOf(program);
    auto first = start(program);
    QVERIFY(waitForLines(first.get(), "primary", 1));
    terminate(first.get());
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);

    // The block is gone with its last user; if it still existed it would be released.
    const RecordView after = readRecord(key);
    if (after.exists) {
        QVERIFY(!after.primary);
        QCOMPARE(after.primaryPid, qint64(-1));
    }
    QVERIFY(!QFile::exists(QDir::tempPath() + QLatin1Char('/') + key));

    auto next = start(program);
    QVERIFY(waitForLines(next.get(), "primary", 1));
    terminate(next.get());
    QCOMPARE(next->exitCode(), 0);
}

// Starts racing for the block end with exactly one primary; the rest exit with code 0.
void TestSingleInstance::simultaneousStartsLeaveOnePrimary()
{
    const QString program = copyProbe(QStringLiteral("race"));
    QVERIFY(!program.isEmpty());
    for (int round = 0; round < 5; ++round) {
        std::vector<std::unique_ptr<QProcess>> processes;
        for (int i = 0; i < 4; ++i)
            processes.push_back(start(program));
        QTest::qWait(1500);
        int primaries = 0;
        for (auto &process : processes) {
            if (process->state() == QProcess::NotRunning) {
                QCOMPARE(process->exitCode(), 0);
                QVERIFY(!process->peek(1 << 20).contains("primary"));
            } else {
                QVERIFY(waitForLines(process.get(), "primary", 1));
                ++primaries;
            }
        }
        QCOMPARE(primaries, 1);
        for (auto &process : processes)
            terminate(process.get());
    }
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
