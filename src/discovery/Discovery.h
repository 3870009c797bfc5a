#pragma once
// Finding stations on the network and being found, through the Avahi daemon
// (DNS-SD over mDNS): while the station listens it announces a
// "_chatterly._tcp" service on its port under its name, and it browses and
// resolves the services of that type on IPv4 into FoundStations, leaving its
// own out. Without a daemon (none, gone, restarting) nothing else changes:
// the client waits for the daemon to come back, or tries again every few
// seconds when it cannot even reach the system bus; the user is told once
// when stations cannot be found, and once when they can again.
//
// Avahi's callbacks run on the GUI thread (QtAvahiPoll); calls into the
// client are short D-Bus round trips to the local daemon. The announcement is
// withdrawn when this object goes. GUI thread.

#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "discovery/AnnouncedName.h"
#include "discovery/QtAvahiPoll.h"

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiServiceBrowser;
struct AvahiServiceResolver;

namespace chatterly {

class FoundStations;

class Discovery {
  public:
    static constexpr const char* kServiceType = "_chatterly._tcp";

    struct Options {
        std::string name;              // the name to announce (one DNS label)
        uint16_t port = 0;             // the port to announce; 0: only browse
        std::vector<std::string> txt;  // the TXT record's strings
        std::chrono::milliseconds retry{5000};
        std::function<void(const QString&)> notice;  // what the user is told
    };

    Discovery(FoundStations& found, Options options);
    ~Discovery();
    Discovery(const Discovery&) = delete;
    Discovery& operator=(const Discovery&) = delete;

    // The name the announcement stands under, once it stands; else empty.
    QString announcedName() const { return announced_; }
    // Whether the daemon is reached and browsing runs.
    bool running() const { return browser_ != nullptr; }

  private:
    friend struct DiscoveryCallbacks;  // Avahi's C callbacks, into the members below

    void connect();
    void disconnect();
    void restart(std::chrono::milliseconds after);
    void clientState(AvahiClient* client, int state);
    void groupState(int state);
    void browse(int interface, int protocol, int event, const char* name, const char* type,
                const char* domain, int flags);
    void resolve(int interface, int protocol, const char* name, const char* type,
                 const char* domain);
    void announce(AvahiClient* client);
    void lost();
    void back();

    FoundStations& found_;
    Options options_;
    QtAvahiPoll poll_;
    AnnouncedName name_;
    QString announced_;
    AvahiClient* client_ = nullptr;
    AvahiEntryGroup* group_ = nullptr;
    AvahiServiceBrowser* browser_ = nullptr;
    std::set<AvahiServiceResolver*> resolvers_;
    QTimer retry_;
    bool saidLost_ = false;
};

}  // namespace chatterly
