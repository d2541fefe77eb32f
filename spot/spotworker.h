// SPDX-License-Identifier: GPL-3.0-or-later
// SpotWorker: brings the hotspot and the Internet sharing up and down, and watches them.
#pragma once

#include "spot/networkinterface.h"
#include "spot/sharingconfig.h"
#include "spot/sharingplan.h"
#include "wireless/wificonnect.h"
#include "wireless/wifihostednetwork.h"
#include "wireless/wyndlink.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class ARPTable;
class DHCPServer;
class EnginePair;
class NATService;
class QEventLoop;
class QTimer;
class UPnPService;
class UpTime;

// How this works: the worker lives on a thread of its own. start() is one linear routine
// that reads the settings, brings up the private side, gives the private network its
// address and DHCP server, waits for a usable Internet connection, then starts address
// translation, the engine pair and UPnP. Where it must wait for the outside world (an
// access point coming up, a user joining, an address becoming usable, the Internet) it
// runs a nested event loop; the slots that receive those events end that loop with a wake
// code, and signals, timers and queued calls keep being delivered meanwhile.
//
// State rules: start() is accepted only in Stopped, so starts never overlap. stop() while
// the start routine waits only ends the wait with the abort code; the routine then runs
// the stop sequence itself. Every failure of the start sequence ends in the stop sequence;
// only a configuration error (an interface that is not on offer, no access point) is also
// reported through error(). Every 5 seconds the worker refreshes the interface list and
// supervises the run: a private interface that vanishes (or stops running once started)
// stops everything; a public interface that goes down or loses its address rebuilds the
// Internet side (Restarting).
//
// All objects the worker drives are created by init() on the worker thread, without
// parent, and deleted by close().
class SpotWorker : public QObject
{
    Q_OBJECT
public:
    enum State {
        Starting = 0,
        ConfiguringSharing = 1,
        SharingConfigured = 2,
        ConfiguringInternet = 3,
        InternetConfigured = 4,
        Started = 5,
        Restarting = 6,
        Stopping = 7,
        Stopped = 8,
    };
    Q_ENUM(State)
    enum Event { Ready = 0, WaitingForUsers = 1, NoInternet = 2 };
    Q_ENUM(Event)
    enum Error { ConfigurationError = 0 };
    Q_ENUM(Error)

    explicit SpotWorker(QObject *parent = nullptr);
    ~SpotWorker() override;

    // Readable from any thread.
    State state() const { return State(m_state.load()); }
    QList<NetworkInterface> interfaces() const;
    ARPTable *arpTable() const { return m_users.get(); }
    UPnPService *upnpService() const { return m_upnp.get(); }
    UpTime *upTime() const { return m_uptime.get(); }
    Wyndlink *wyndlink() const { return m_wyndlink.get(); }
    WiFiHostedNetwork *wifiHostedNetwork() const { return m_hostedNetwork.get(); }
    WiFiConnect *wifiConnect() const { return m_wifiConnect.get(); }

public slots:
    void init();
    void start();
    void stop();
    void close();

signals:
    void stateChanged(SpotWorker::State state);
    void newEvent(SpotWorker::Event event);
    void interfacesChanged();
    void error(SpotWorker::Error error);

private slots:
    bool startInternetSharing();
    void stopInternetSharing();
    void wyndlinkStateChanged(Wyndlink::State state);
    void wifiHostedNetworkStateChanged(WiFiHostedNetwork::State state);
    void wifiConnectStateChanged(WiFiConnect::State state);
    void wifiConnectInterfacesChanged();
    void wifiConnectNetworksChanged(NetworkInterface interface);
    void timeout();
    void refreshTimeout();

private:
    // The codes with which a wait ends.
    enum Wake { AbortWake = 0, TimeoutWake = 1, StateWake = 2, NetworksWake = 3 };
    enum class Outcome { Done, Failed, ConfigurationFailed };

    static bool isRunning(const NetworkInterface &interface);
    static bool holdsAddress(const NetworkInterface &interface, const QHostAddress &address);

    void createObjects();
    void connectObjects();
    void setState(State state);

    int wait();
    // Waits one second; false when the wait was aborted.
    bool waitOneSecond();
    // Waits until `stateOf` reads 1; false when aborted.
    bool waitUntilUp(const std::function<int()> &stateOf);
    void wake(int code);
    void accessPointState(int value, bool inUse);
    void finishDeferredClose();

    Outcome runStart();
    bool readConfiguration();
    bool connectRepeater();
    bool startPrivateSide();
    bool startDirectAccessPoint();
    bool startHostedNetwork();
    bool openAdHocNetwork();
    bool waitForUser();
    bool configurePrivateAddressing();
    bool installPrivateAddress();
    bool waitForOwnedAddress();
    bool bindDhcpServer();

    bool waitForInternet();
    bool internetUsable();
    void startTranslation();
    void startEngines();
    bool startPortMapping(int flags);

    void stopPrivateSide();
    void removePrivateAddress();
    void supervise(const QList<NetworkInterface> &filterable, const QList<NetworkInterface> &offered);
    void restartInternetSharing();

    std::atomic<int> m_state{Stopped};
    SharingConfig m_config;
    AccessPointKind m_kind = WiredInterface;
    NetworkInterface m_publicInterface;
    QHostAddress m_publicAddress;
    NetworkInterface m_privateInterface;
    bool m_privateKnown = false;     // the private interface of this run is known
    bool m_addressInstalled = false; // the network address is on the private interface for us
    QHostAddress m_dnsServer;
    QHostAddress m_gateway;
    QByteArray m_gatewayMac;
    bool m_closePending = false;

    std::unique_ptr<QEventLoop> m_loop;
    std::unique_ptr<QTimer> m_waitTimer;
    std::unique_ptr<QTimer> m_refreshTimer;
    std::unique_ptr<UpTime> m_uptime;
    std::unique_ptr<ARPTable> m_users;
    std::unique_ptr<NATService> m_nat;
    std::unique_ptr<DHCPServer> m_dhcp;
    std::unique_ptr<EnginePair> m_engines;
    std::unique_ptr<UPnPService> m_upnp;
    std::unique_ptr<Wyndlink> m_wyndlink;
    std::unique_ptr<WiFiHostedNetwork> m_hostedNetwork;
    std::unique_ptr<WiFiConnect> m_wifiConnect;

    QList<NetworkInterface> m_interfaces;
    mutable std::mutex m_interfacesMutex;
};
