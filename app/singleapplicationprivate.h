// SPDX-License-Identifier: GPL-3.0-or-later
// The single-instance state behind SingleApplication: shared block, local server, greeting.
//
// How this works: every instance of one program and user derives the same key. A shared
// memory block named by it holds the instance record (primary flag, secondary count,
// primary process id), read and written only while the block's lock is held. The process
// that finds no running primary under the lock claims the record and listens on a local
// server named by the key; any other process greets that server and ends.
//
// Rules of the record:
//  - claiming primary happens in the same locked section as the check, so two instances
//    starting at once cannot both claim it;
//  - a record whose primary flag is set but whose primary process no longer runs belongs to
//    an instance that was killed: on Linux the System V segment behind the block outlives a
//    process ended by SIGKILL, so such a record counts as "primary ended";
//  - the primary clears the flag and sets the process id to -1 when it ends normally, and
//    only if the record still names it.
#pragma once

#include "app/instancegreeting.h"

#include <QObject>
#include <QSharedMemory>
#include <QString>

class QLocalServer;
class QLocalSocket;
class SingleApplication;

class SingleApplicationPrivate : public QObject
{
    Q_OBJECT

public:
    enum class Role {
        Undecided,
        Primary,
        Secondary,
        HandedOver, // another instance runs; this process is to end
    };

    SingleApplicationPrivate(SingleApplication *application, const QString &key, int timeoutMs);
    ~SingleApplicationPrivate() override;

    // Decides the role of this process and sets up the channel for it.
    Role start(bool allowSecondary);
    // Gives up the single-instance state; safe to call more than once.
    void release();

    Role role() const;
    quint32 instanceNumber() const;
    QString key() const;

private:
    // Layout of the record in the shared block.
    struct InstanceRecord {
        quint8 primary;       // non-zero while a primary instance runs
        quint32 secondaryCount;
        qint64 primaryPid;    // -1 once the primary has ended
    };

    bool attachOrCreate(bool *created);
    bool readRecord(InstanceRecord *record) const;
    void writeRecord(const InstanceRecord &record);
    bool primaryRuns(const InstanceRecord &record) const;
    Role decide(bool created, bool allowSecondary);
    void startServer();
    bool greetPrimary(InstanceGreeting::ConnectionType type);
    void serverNewConnection();
    void handleConnection(QLocalSocket *socket);
    bool readGreeting(QLocalSocket *socket, InstanceGreeting::Greeting *greeting);
    void acceptConnection(QLocalSocket *socket, const InstanceGreeting::Greeting &greeting);

    SingleApplication *m_application;
    QString m_key;
    int m_timeoutMs;
    QSharedMemory m_memory;
    QLocalServer *m_server = nullptr;
    QLocalSocket *m_socket = nullptr;
    Role m_role = Role::Undecided;
    quint32 m_instanceNumber = 0;
};
