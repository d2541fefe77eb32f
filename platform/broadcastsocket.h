// SPDX-License-Identifier: GPL-3.0-or-later
// A UDP socket that hears one interface's broadcasts and answers from a chosen address.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <memory>
#include <optional>

class QSocketNotifier;

// A socket bound to one local unicast address does not see datagrams sent to the limited
// broadcast address. This one listens on a port of the whole interface that holds the
// address (unicast to it and broadcasts alike), and every datagram it sends carries that
// address as its source. Lives in one thread; readyRead() is emitted from its event loop.
class BroadcastSocket : public QObject
{
    Q_OBJECT
public:
    struct Datagram {
        QByteArray data;
        QHostAddress sender;
        quint16 senderPort = 0;
    };

    explicit BroadcastSocket(QObject *parent = nullptr);
    ~BroadcastSocket() override;

    // Binds UDP `port` on the interface holding the IPv4 address `local`. False when no
    // interface holds it or the system refuses; an earlier binding is closed first.
    bool bind(const QHostAddress &local, quint16 port);
    void close();
    bool isBound() const;

    // The next waiting datagram, or nothing when none waits.
    std::optional<Datagram> receive();
    // Sends from the bound address; broadcasts leave through the bound interface.
    bool send(const QByteArray &data, const QHostAddress &destination, quint16 port);

signals:
    void readyRead();

private:
    int m_fd = -1;
    quint32 m_local = 0; // network order
    std::unique_ptr<QSocketNotifier> m_notifier;
};
