// SPDX-License-Identifier: GPL-3.0-or-later
// The application object that keeps the program to one running instance per user.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <memory>

class SingleApplicationPrivate;

// A QApplication that, while it is constructed, decides whether this process is the primary
// instance of the program for the current user. If another instance already runs, the
// constructor greets it over the local channel and ends the process with exit code 0 (unless
// secondary instances are allowed), so code after the construction only ever runs in the
// primary instance (or an allowed secondary one). The primary emits instanceStarted() when
// a later instance greets it. Destroying the object releases the single-instance state.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    // One instance per user: the user's login name enters the key and only the user's own
    // processes can reach the primary's server. It is the one mode this program uses.
    enum class Mode {
        User,
    };

    // `timeoutMs` bounds every wait on the inter-instance channel.
    SingleApplication(int &argc, char **argv, bool allowSecondary = false,
                      Mode mode = Mode::User, int timeoutMs = 100);
    ~SingleApplication() override;

    bool isPrimary() const;
    bool isSecondary() const;
    // 0 for the primary; the secondary count at start for a secondary instance.
    quint32 instanceId() const;
    // The 44-character key that names the shared block and the local server.
    QString instanceKey() const;

signals:
    // In the primary: another instance of the same user sent a valid new-instance greeting.
    void instanceStarted();
    // In the primary: application data that followed a valid greeting on its connection.
    void receivedMessage(uint instanceId, QByteArray message);

private:
    std::unique_ptr<SingleApplicationPrivate> m_private;
};
