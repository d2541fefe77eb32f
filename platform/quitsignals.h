// SPDX-License-Identifier: GPL-3.0-or-later
// Turns the termination requests of the system (interrupt, terminate) into a Qt signal.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

// While a QuitSignals object exists, an interrupt or terminate request no longer ends the
// process at once; instead quitRequested() is emitted on the object's thread, so the owner
// can leave its event loop and release what it holds. Only one object can watch at a time;
// a second one stays inactive. The destructor restores the previous dispositions.
class QuitSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

    bool isActive() const;

signals:
    void quitRequested(int signalNumber);

private:
    void notifierActivated();

    struct PreviousHandlers;

    int m_readFd = -1;
    int m_writeFd = -1;
    QSocketNotifier *m_notifier = nullptr;
    std::unique_ptr<PreviousHandlers> m_previous;
    bool m_active = false;
};
