#include "discovery/Discovery.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>

#include "discovery/FoundStations.h"

namespace chatterly {

struct DiscoveryCallbacks {
    static void client(AvahiClient* client, AvahiClientState state, void* self) {
        static_cast<Discovery*>(self)->clientState(client, state);
    }
    static void group(AvahiEntryGroup*, AvahiEntryGroupState state, void* self) {
        static_cast<Discovery*>(self)->groupState(state);
    }
    static void browse(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
                       AvahiBrowserEvent event, const char* name, const char* type,
                       const char* domain, AvahiLookupResultFlags flags, void* self) {
        static_cast<Discovery*>(self)->browse(interface, protocol, event, name, type, domain,
                                              flags);
    }
    static void resolved(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
                         AvahiResolverEvent event, const char* name, const char*,
                         const char* domain, const char* hostName, const AvahiAddress* address,
                         uint16_t port, AvahiStringList*, AvahiLookupResultFlags, void* self) {
        auto* d = static_cast<Discovery*>(self);
        if (event == AVAHI_RESOLVER_FOUND && address && address->proto == AVAHI_PROTO_INET) {
            char text[AVAHI_ADDRESS_STR_MAX] = {};
            avahi_address_snprint(text, sizeof text, address);
            d->found_.resolved(interface, name ? name : "", domain ? domain : "",
                               hostName ? hostName : "", text, port);
        } else {
            // Not to be had: it leaves the list, and a later announcement of
            // it is resolved anew.
            d->found_.removed(interface, name ? name : "", domain ? domain : "");
        }
        d->resolvers_.erase(resolver);
        avahi_service_resolver_free(resolver);
    }
};

Discovery::Discovery(FoundStations& found, Options options)
    : found_(found), options_(std::move(options)), name_(options_.name) {
    retry_.setSingleShot(true);
    QObject::connect(&retry_, &QTimer::timeout, [this] { connect(); });
    connect();
}

Discovery::~Discovery() {
    retry_.stop();
    disconnect();
}

void Discovery::connect() {
    disconnect();
    int error = 0;
    // Without a daemon on the bus the client waits for one to appear; only
    // without a bus at all does it fail here.
    AvahiClient* client = avahi_client_new(poll_.poll(), AVAHI_CLIENT_NO_FAIL,
                                           DiscoveryCallbacks::client, this, &error);
    if (!client) {
        lost();
        restart(options_.retry);
        return;
    }
    client_ = client;
}

void Discovery::disconnect() {
    // Freeing the client frees its announcement (withdrawn by the daemon), its
    // browser and its resolvers.
    if (client_) {
        avahi_client_free(client_);
    }
    client_ = nullptr;
    group_ = nullptr;
    browser_ = nullptr;
    resolvers_.clear();
    announced_.clear();
    found_.clear();
}

void Discovery::restart(std::chrono::milliseconds after) {
    // Never from inside the client's own callback: the client goes on the
    // next pass of the loop.
    retry_.start(after);
}

void Discovery::clientState(AvahiClient* client, int state) {
    switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            if (!browser_) {
                browser_ = avahi_service_browser_new(
                    client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, kServiceType, nullptr,
                    static_cast<AvahiLookupFlags>(0), DiscoveryCallbacks::browse, this);
                if (!browser_) {
                    lost();
                    restart(options_.retry);
                    return;
                }
            }
            back();
            announce(client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The daemon's own host name is being (re)established: the
            // announcement is made again once it runs.
            if (group_) {
                avahi_entry_group_reset(group_);
            }
            announced_.clear();
            break;
        case AVAHI_CLIENT_CONNECTING:
            lost();
            break;
        case AVAHI_CLIENT_FAILURE:
            // The daemon went away (or the bus did): start over with a new
            // client, which waits for the daemon to come back.
            lost();
            found_.clear();
            restart(avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED
                        ? std::chrono::milliseconds(0)
                        : options_.retry);
            break;
        default:
            break;
    }
}

void Discovery::announce(AvahiClient* client) {
    if (options_.port == 0 || name_.current().empty()) {
        return;
    }
    if (!group_) {
        group_ = avahi_entry_group_new(client, DiscoveryCallbacks::group, this);
        if (!group_) {
            return;
        }
    }
    if (!avahi_entry_group_is_empty(group_)) {
        return;
    }
    AvahiStringList* txt = nullptr;
    for (auto it = options_.txt.rbegin(); it != options_.txt.rend(); ++it) {
        txt = avahi_string_list_add(txt, it->c_str());
    }
    // A name another service of this host holds already is a collision
    // found at once; the daemon reports the others once it has probed.
    for (int tries = 0; tries < 100; ++tries) {
        const int result = avahi_entry_group_add_service_strlst(
            group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, static_cast<AvahiPublishFlags>(0),
            name_.current().c_str(), kServiceType, nullptr, nullptr, options_.port, txt);
        if (result == AVAHI_ERR_COLLISION) {
            name_.collided();
            continue;
        }
        if (result >= 0) {
            avahi_entry_group_commit(group_);
        }
        break;
    }
    avahi_string_list_free(txt);
}

void Discovery::groupState(int state) {
    switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            announced_ = QString::fromStdString(name_.current());
            if (const auto notice = name_.established(); notice && options_.notice) {
                options_.notice(*notice);
            }
            break;
        case AVAHI_ENTRY_GROUP_COLLISION:
            // Another host announces this name: the next alternative.
            name_.collided();
            announced_.clear();
            avahi_entry_group_reset(group_);
            if (client_) {
                announce(client_);
            }
            break;
        default:
            break;
    }
}

void Discovery::browse(int interface, int protocol, int event, const char* name, const char* type,
                       const char* domain, int flags) {
    if (!name || !domain) {
        return;
    }
    switch (event) {
        case AVAHI_BROWSER_NEW:
            if (flags & AVAHI_LOOKUP_RESULT_OUR_OWN) {
                return;  // this station's own announcement
            }
            if (found_.found(interface, name, domain)) {
                resolve(interface, protocol, name, type, domain);
            }
            break;
        case AVAHI_BROWSER_REMOVE:
            found_.removed(interface, name, domain);
            break;
        case AVAHI_BROWSER_FAILURE:
            lost();
            restart(options_.retry);
            break;
        default:
            break;
    }
}

void Discovery::resolve(int interface, int protocol, const char* name, const char* type,
                        const char* domain) {
    if (!client_) {
        return;
    }
    AvahiServiceResolver* resolver = avahi_service_resolver_new(
        client_, interface, protocol, name, type, domain, AVAHI_PROTO_INET,
        static_cast<AvahiLookupFlags>(0), DiscoveryCallbacks::resolved, this);
    if (resolver) {
        resolvers_.insert(resolver);
    } else {
        found_.removed(interface, name, domain);
    }
}

void Discovery::lost() {
    announced_.clear();
    if (!saidLost_ && options_.notice) {
        options_.notice(QStringLiteral(
            "Stations on the network cannot be found: the Avahi daemon does not answer. "
            "Calls by address work as before."));
    }
    saidLost_ = true;
}

void Discovery::back() {
    if (saidLost_ && options_.notice) {
        options_.notice(QStringLiteral("Stations on the network can be found again."));
    }
    saidLost_ = false;
}

}  // namespace chatterly
