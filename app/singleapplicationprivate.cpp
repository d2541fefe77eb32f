// SPDX-License-Identifier: GPL-3.0-or-later
// Shared block, local server and greeting handling of the single-instance guard.
#include "app/singleapplicationprivate.h"

#include "app/singleapplication.h"
#include "platform/processliveness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <cstring>

using namespace InstanceGreeting;

namespace {

qint64 ownPid()
{
    return QCoreApplication::applicationPid();
}

} // namespace

SingleApplicationPrivate::SingleApplicationPrivate(SingleApplication *application,
                                                   const QString &key, int timeoutMs)
    : m_application(application)
    , m_key(key)
    , m_timeoutMs(timeoutMs)
    , m_memory(key)
{
}

SingleApplicationPrivate::~SingleApplicationPrivate()
{
    release();
}

SingleApplicationPrivate::Role SingleApplicationPrivate::start(bool allowSecondary)
{
    bool created = false;
    if (!attachOrCreate(&created))
        m_role = Role::HandedOver;
    else
        m_role = decide(created, allowSecondary);

    switch (m_role) {
    case Role::Primary:
        startServer();
        break;
    case Role::Secondary:
        greetPrimary(SecondaryInstance);
        break;
    case Role::HandedOver:
        greetPrimary(NewInstance);
        break;
    case Role::Undecided:
        break;
    }
    return m_role;
}

// Attaches first and creates only when no block exists: on Unix, QSharedMemory::create()
// resets the block's lock semaphore even when it fails, which would break the lock of a
// running primary if every later start called it.
bool SingleApplicationPrivate::attachOrCreate(bool *created)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (m_memory.attach(QSharedMemory::ReadWrite))
            break;
        if (m_memory.error() != QSharedMemory::NotFound)
            return false;
        if (m_memory.create(sizeof(InstanceRecord), QSharedMemory::ReadWrite)) {
            *created = true;
            break;
        }
        if (m_memory.error() != QSharedMemory::AlreadyExists)
            return false;
        // Another instance created it between the two calls: attach to theirs.
    }
    return m_memory.isAttached() && m_memory.size() >= int(sizeof(InstanceRecord));
}

bool SingleApplicationPrivate::readRecord(InstanceRecord *record) const
{
    if (!m_memory.isAttached() || m_memory.size() < int(sizeof(InstanceRecord)))
        return false;
    std::memcpy(record, m_memory.constData(), sizeof(InstanceRecord));
    return true;
}

void SingleApplicationPrivate::writeRecord(const InstanceRecord &record)
{
    if (m_memory.isAttached() && m_memory.size() >= int(sizeof(InstanceRecord)))
        std::memcpy(m_memory.data(), &record, sizeof(InstanceRecord));
}

// A set flag whose process has ended (or is this very process, after a reused id) is the
// trace of a primary that was killed without releasing the block.
bool SingleApplicationPrivate::primaryRuns(const InstanceRecord &record) const
{
    return record.primary != 0 && record.primaryPid != ownPid()
        && processIsRunning(record.primaryPid);
}

SingleApplicationPrivate::Role SingleApplicationPrivate::decide(bool created, bool allowSecondary)
{
    if (!m_memory.lock())
        return Role::HandedOver;
    InstanceRecord record{};
    readRecord(&record);
    Role role = Role::HandedOver;
    if (created || !primaryRuns(record)) {
        if (created)
            record.secondaryCount = 0;
        record.primary = 1;
        record.primaryPid = ownPid();
        role = Role::Primary;
    } else if (allowSecondary) {
        ++record.secondaryCount;
        m_instanceNumber = record.secondaryCount;
        role = Role::Secondary;
    }
    writeRecord(record);
    m_memory.unlock();
    return role;
}

// A server socket file left behind by a killed primary would make listen() fail; only the
// process that has just claimed the record removes it, so a live server is never removed.
void SingleApplicationPrivate::startServer()
{
    QLocalServer::removeServer(m_key);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleApplicationPrivate::serverNewConnection);
    // A failure to listen is not reported: the program runs on, and later instances end
    // without reaching it.
    m_server->listen(m_key);
}

bool SingleApplicationPrivate::greetPrimary(ConnectionType type)
{
    m_socket = new QLocalSocket(this);
    m_socket->connectToServer(m_key, QIODevice::ReadWrite);
    if (!m_socket->waitForConnected(m_timeoutMs))
        return false;
    m_socket->write(encode(m_key, type, m_instanceNumber));
    m_socket->flush();
    m_socket->waitForBytesWritten(m_timeoutMs);
    return true;
}

void SingleApplicationPrivate::serverNewConnection()
{
    while (m_server && m_server->hasPendingConnections())
        handleConnection(m_server->nextPendingConnection());
}

void SingleApplicationPrivate::handleConnection(QLocalSocket *socket)
{
    if (!socket)
        return;
    Greeting greeting;
    if (!readGreeting(socket, &greeting)) {
        socket->close();
        socket->deleteLater();
        return;
    }
    acceptConnection(socket, greeting);
}

// Waits, up to the time-out in all, until the bytes received so far make a valid or an
// invalid greeting; a greeting still incomplete at the deadline is invalid.
bool SingleApplicationPrivate::readGreeting(QLocalSocket *socket, Greeting *greeting)
{
    const qint64 longest = m_key.size() + kTypeLength + kInstanceNumberLength + kMaxChecksumLength;
    const QDeadlineTimer deadline(m_timeoutMs);
    for (;;) {
        const Verdict verdict = parse(socket->peek(longest), m_key, greeting);
        if (verdict != Verdict::Incomplete)
            return verdict == Verdict::Valid;
        if (deadline.hasExpired() || !socket->waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
}

void SingleApplicationPrivate::acceptConnection(QLocalSocket *socket, const Greeting &greeting)
{
    socket->read(greeting.length);
    const uint instanceId = greeting.instanceNumber;
    SingleApplication *application = m_application;
    connect(socket, &QLocalSocket::readyRead, this, [application, socket, instanceId]() {
        emit application->receivedMessage(instanceId, socket->readAll());
    });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);

    if (greeting.type == NewInstance)
        emit m_application->instanceStarted();
    if (socket->bytesAvailable() > 0)
        emit m_application->receivedMessage(instanceId, socket->readAll());
    if (socket->state() == QLocalSocket::UnconnectedState)
        socket->deleteLater();
}

void SingleApplicationPrivate::release()
{
    delete m_socket;
    m_socket = nullptr;
    const bool wasPrimary = m_role == Role::Primary;
    if (m_memory.isAttached() && m_memory.lock()) {
        if (wasPrimary && m_server) {
            m_server->close();
            delete m_server;
            m_server = nullptr;
        }
        if (wasPrimary) {
            InstanceRecord record{};
            if (readRecord(&record) && record.primaryPid == ownPid()) {
                record.primary = 0;
                record.primaryPid = -1;
                writeRecord(record);
            }
        }
        m_memory.unlock();
    }
    delete m_server; // still here only when the lock could not be taken
    m_server = nullptr;
    if (m_memory.isAttached())
        m_memory.detach();
}

SingleApplicationPrivate::Role SingleApplicationPrivate::role() const
{
    return m_role;
}

quint32 SingleApplicationPrivate::instanceNumber() const
{
    return m_instanceNumber;
}

QString SingleApplicationPrivate::key() const
{
    return m_key;
}
