// SPDX-License-Identifier: GPL-3.0-or-later
// Test lab: network namespaces, veth links, addresses, routes and peer processes.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

// For a test's initTestCase() or init(): skips it where the lab cannot work (see available()).
#define LAB_SKIP_UNLESS_AVAILABLE()                                                                \
    do {                                                                                           \
        QString labUnavailable_;                                                                   \
        if (!Lab::available(&labUnavailable_))                                                     \
            QSKIP(qPrintable(labUnavailable_));                                                    \
    } while (false)

// A Lab owns a set of network namespaces ("hosts") made for one test run. Every name
// carries the run's process id, so parallel runs never collide, and a later run removes
// what a crashed one left behind. The destructor removes everything it made; SIGINT and
// SIGTERM do the same before the process ends. Nothing is ever created in, attached to or
// routed through the machine's own namespace.
class Lab
{
public:
    Lab();
    ~Lab();
    Lab(const Lab &) = delete;
    Lab &operator=(const Lab &) = delete;

    // True when the lab can work here (root and `ip netns`); tests skip otherwise.
    static bool available(QString *why = nullptr);

    // Creates a namespace for `role` and returns its full name; loopback is brought up.
    QString addHost(const QString &role);
    // A veth pair between two hosts, both ends up. Names are per namespace, so any name
    // (up to 15 characters) is free to use.
    void addLink(const QString &hostA, const QString &ifA, const QString &hostB, const QString &ifB);
    void addAddress(const QString &host, const QString &ifname, const QString &cidr);
    void addRoute(const QString &host, const QStringList &routeArgs);
    // The routed layout of the engine tests: client eth0 192.168.51.10/24 — lan0
    // 192.168.51.1/24 [middle, forwarding] wan0 198.51.100.1/24 — server eth0
    // 198.51.100.2/24, with default routes through the middle. False when a step failed.
    struct RoutedHosts {
        QString client, middle, server;
    };
    bool addRoutedHosts(RoutedHosts &hosts);
    // The layout of the sharing tests: client eth0 — lan0 [hotspot] pub0 198.51.100.2/24 —
    // eth0 [upstream] 198.51.100.1/24, with no routes; the hosts' roles are "phone",
    // "hotspot" and "upstream". False when a host could not be made.
    struct SharingHosts {
        QString client, hotspot, upstream;
    };
    bool addSharingHosts(SharingHosts &hosts);
    // The layout of the host configuration tests: a PC with lan0 198.51.100.1/24 to "up" (u0
    // 198.51.100.2/24) and `phoneSide`, without an address, to "phone" (p0 192.168.51.20/24).
    // False when a host could not be made.
    struct PcHosts {
        QString pc, up, phone;
    };
    bool addPcHosts(PcHosts &hosts, const QString &phoneSide);
    // A bridge `name` in `host` over the given interfaces of that host (a switch for the
    // hosts at their far ends), up. False when a step failed.
    bool addBridge(const QString &host, const QString &name, const QStringList &ports);
    // Writes /etc/netns/<host>/<file>, which `ip netns exec` shows as /etc/<file>.
    void writeEtcFile(const QString &host, const QString &file, const QByteArray &content);

    struct Result {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    // Runs a command inside a host and waits for it (at most timeoutMs).
    Result run(const QString &host, const QStringList &command, int timeoutMs = 30000);
    // `ip` inside the host, failing the test on error is the caller's choice.
    Result ip(const QString &host, const QStringList &args);
    // True when `count` pings from a host to an address are answered (0.2 s apart, each
    // waited for at most waitSec).
    bool ping(const QString &host, const QString &address, int count = 1, int waitSec = 1);
    // Starts a background process inside a host; the lab ends it at cleanup.
    QProcess *start(const QString &host, const QStringList &command);
    // Ends one started process (SIGTERM, then SIGKILL after graceMs).
    static void stop(QProcess *process, int graceMs = 3000);

    // Moves the calling thread into a host's network namespace and back.
    bool enter(const QString &host);
    void leave();

    // Removes everything now (also done by the destructor).
    void cleanup();

    static QString prefix();

private:
    // A host per role, its name stored where the pair points; false when one failed.
    bool addHosts(std::initializer_list<std::pair<QString *, QString>> roles);
    static void sweepStale();
    Result runHost(const QStringList &command, int timeoutMs);

    std::vector<QString> m_hosts;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    int m_homeNs = -1;
};
