// SPDX-License-Identifier: GPL-3.0-or-later
// Test lab: network namespaces, veth links, addresses, routes and peer processes.
#include "tests/lab/lab.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

constexpr const char *kNetnsDir = "/run/netns/";
constexpr int kMaxTracked = 64;

// What the signal handler may remove: namespace paths and peer process ids. Plain arrays
// of fixed size so that the handler uses nothing but async-signal-safe calls.
struct SignalRecord {
    char paths[kMaxTracked][96];
    std::atomic<int> pathCount{0};
    std::atomic<pid_t> pids[kMaxTracked];
    std::atomic<int> pidCount{0};
};
SignalRecord g_record; // test-only: the one place a signal handler can reach

void onSignal(int sig)
{
    for (int i = 0; i < g_record.pidCount.load(); ++i) {
        pid_t pid = g_record.pids[i].load();
        if (pid > 0)
            kill(pid, SIGKILL);
    }
    for (int i = 0; i < g_record.pathCount.load(); ++i) {
        if (g_record.paths[i][0]) {
            umount2(g_record.paths[i], MNT_DETACH);
            unlink(g_record.paths[i]);
        }
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

void installHandlers()
{
    static std::atomic<bool> installed{false};
    if (installed.exchange(true))
        return;
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

void trackPath(const QString &host)
{
    int i = g_record.pathCount.load();
    if (i >= kMaxTracked)
        return;
    QByteArray p = (QString(kNetnsDir) + host).toLocal8Bit();
    std::snprintf(g_record.paths[i], sizeof g_record.paths[i], "%s", p.constData());
    g_record.pathCount.store(i + 1);
}

void untrackPath(const QString &host)
{
    QByteArray p = (QString(kNetnsDir) + host).toLocal8Bit();
    for (int i = 0; i < g_record.pathCount.load(); ++i)
        if (std::strcmp(g_record.paths[i], p.constData()) == 0)
            g_record.paths[i][0] = 0;
}

void trackPid(pid_t pid)
{
    int i = g_record.pidCount.load();
    if (i >= kMaxTracked)
        return;
    g_record.pids[i].store(pid);
    g_record.pidCount.store(i + 1);
}

void untrackPid(pid_t pid)
{
    for (int i = 0; i < g_record.pidCount.load(); ++i)
        if (g_record.pids[i].load() == pid)
            g_record.pids[i].store(0);
}

} // namespace

QString Lab::prefix()
{
    return QStringLiteral("twk-%1-").arg(getpid());
}

bool Lab::available(QString *why)
{
    if (geteuid() != 0) {
        if (why)
            *why = QStringLiteral("the lab needs root");
        return false;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty()) {
        if (why)
            *why = QStringLiteral("iproute2 is not installed");
        return false;
    }
    return true;
}

Lab::Lab()
{
    installHandlers();
    sweepStale();
}

Lab::~Lab()
{
    cleanup();
}

// Removes namespaces of earlier runs whose process no longer exists.
void Lab::sweepStale()
{
    const QStringList entries = QDir(kNetnsDir).entryList(QDir::Files | QDir::System);
    for (const QString &name : entries) {
        if (!name.startsWith(QLatin1String("twk-")))
            continue;
        bool ok = false;
        const pid_t pid = name.section('-', 1, 1).toInt(&ok);
        if (!ok || pid == getpid() || kill(pid, 0) == 0 || errno == EPERM)
            continue;
        QProcess::execute(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("del"), name});
        QDir(QStringLiteral("/etc/netns/") + name).removeRecursively();
    }
}

Lab::Result Lab::runHost(const QStringList &command, int timeoutMs)
{
    Result r;
    QProcess p;
    p.start(command.first(), command.mid(1));
    if (!p.waitForStarted(5000)) {
        r.err = "cannot start " + command.first().toLocal8Bit();
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        r.err = "timed out";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QString Lab::addHost(const QString &role)
{
    const QString name = prefix() + role;
    Result r = runHost({"ip", "netns", "add", name}, 10000);
    if (r.exitCode != 0)
        return QString();
    m_hosts.push_back(name);
    trackPath(name);
    ip(name, {"link", "set", "lo", "up"});
    return name;
}

Lab::Result Lab::ip(const QString &host, const QStringList &args)
{
    return runHost(QStringList{"ip", "-n", host} + args, 10000);
}

void Lab::addLink(const QString &hostA, const QString &ifA, const QString &hostB, const QString &ifB)
{
    ip(hostA, {"link", "add", ifA, "type", "veth", "peer", "name", ifB, "netns", hostB});
    ip(hostA, {"link", "set", ifA, "up"});
    ip(hostB, {"link", "set", ifB, "up"});
}

void Lab::addAddress(const QString &host, const QString &ifname, const QString &cidr)
{
    ip(host, {"addr", "add", cidr, "dev", ifname});
}

void Lab::addRoute(const QString &host, const QStringList &routeArgs)
{
    ip(host, QStringList{"route", "add"} + routeArgs);
}

bool Lab::addHosts(std::initializer_list<std::pair<QString *, QString>> roles)
{
    bool made = true;
    for (const auto &[name, role] : roles) {
        *name = addHost(role);
        made = made && !name->isEmpty();
    }
    return made;
}

bool Lab::addRoutedHosts(RoutedHosts &hosts)
{
    if (!addHosts({{&hosts.client, "client"}, {&hosts.middle, "middle"}, {&hosts.server, "server"}}))
        return false;
    addLink(hosts.client, "eth0", hosts.middle, "lan0");
    addLink(hosts.middle, "wan0", hosts.server, "eth0");
    addAddress(hosts.client, "eth0", "192.168.51.10/24");
    addAddress(hosts.middle, "lan0", "192.168.51.1/24");
    addAddress(hosts.middle, "wan0", "198.51.100.1/24");
    addAddress(hosts.server, "eth0", "198.51.100.2/24");
    addRoute(hosts.client, {"default", "via", "192.168.51.1"});
    addRoute(hosts.server, {"default", "via", "198.51.100.1"});
    return run(hosts.middle, {"sysctl", "-qw", "net.ipv4.ip_forward=1"}).exitCode == 0;
}

bool Lab::addSharingHosts(SharingHosts &hosts)
{
    if (!addHosts({{&hosts.client, "phone"}, {&hosts.hotspot, "hotspot"}, {&hosts.upstream, "upstream"}}))
        return false;
    addLink(hosts.client, "eth0", hosts.hotspot, "lan0");
    addLink(hosts.hotspot, "pub0", hosts.upstream, "eth0");
    addAddress(hosts.hotspot, "pub0", "198.51.100.2/24");
    addAddress(hosts.upstream, "eth0", "198.51.100.1/24");
    return true;
}

bool Lab::addPcHosts(PcHosts &hosts, const QString &phoneSide)
{
    if (!addHosts({{&hosts.pc, "pc"}, {&hosts.up, "up"}, {&hosts.phone, "phone"}}))
        return false;
    addLink(hosts.pc, "lan0", hosts.up, "u0");
    addLink(hosts.pc, phoneSide, hosts.phone, "p0");
    addAddress(hosts.pc, "lan0", "198.51.100.1/24");
    addAddress(hosts.up, "u0", "198.51.100.2/24");
    addAddress(hosts.phone, "p0", "192.168.51.20/24");
    return true;
}

bool Lab::addBridge(const QString &host, const QString &name, const QStringList &ports)
{
    if (ip(host, {"link", "add", name, "type", "bridge"}).exitCode != 0)
        return false;
    for (const QString &port : ports)
        if (ip(host, {"link", "set", port, "master", name}).exitCode != 0)
            return false;
    return ip(host, {"link", "set", name, "up"}).exitCode == 0;
}

void Lab::writeEtcFile(const QString &host, const QString &file, const QByteArray &content)
{
    const QString dir = QStringLiteral("/etc/netns/") + host;
    QDir().mkpath(dir);
    QFile f(dir + '/' + file);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}

Lab::Result Lab::run(const QString &host, const QStringList &command, int timeoutMs)
{
    return runHost(QStringList{"ip", "netns", "exec", host} + command, timeoutMs);
}

bool Lab::ping(const QString &host, const QString &address, int count, int waitSec)
{
    const Result r = run(host, {"ping", "-n", "-q", "-c", QString::number(count), "-i", "0.2", "-W",
                                QString::number(waitSec), address},
                         15000);
    return r.exitCode == 0;
}

QProcess *Lab::start(const QString &host, const QStringList &command)
{
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::SeparateChannels);
    p->start(QStringLiteral("ip"), QStringList{"netns", "exec", host} + command);
    p->waitForStarted(5000);
    if (p->processId() > 0)
        trackPid(static_cast<pid_t>(p->processId()));
    m_processes.push_back(std::move(p));
    return m_processes.back().get();
}

void Lab::stop(QProcess *process, int graceMs)
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    const pid_t pid = static_cast<pid_t>(process->processId());
    process->terminate();
    if (!process->waitForFinished(graceMs)) {
        process->kill();
        process->waitForFinished(2000);
    }
    untrackPid(pid);
}

bool Lab::enter(const QString &host)
{
    if (m_homeNs < 0)
        m_homeNs = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const QByteArray path = (QString(kNetnsDir) + host).toLocal8Bit();
    const int fd = open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    return ok;
}

void Lab::leave()
{
    if (m_homeNs >= 0) {
        setns(m_homeNs, CLONE_NEWNET);
        close(m_homeNs);
        m_homeNs = -1;
    }
}

void Lab::cleanup()
{
    leave();
    for (auto &p : m_processes)
        stop(p.get(), 2000);
    m_processes.clear();
    for (const QString &host : m_hosts) {
        runHost({"ip", "netns", "del", host}, 10000);
        QDir(QStringLiteral("/etc/netns/") + host).removeRecursively();
        untrackPath(host);
    }
    m_hosts.clear();
}
