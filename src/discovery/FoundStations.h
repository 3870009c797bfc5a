#pragma once
// The stations found on the network: what the browser and its resolvers
// report, kept as a bounded list the window shows. A service is known by its
// name and domain as announced; it may be seen on several network
// interfaces, and stays while any of them still has it. Only a service
// resolved to an IPv4 address on the port stations call is shown; the
// rest wait for their resolution. Nothing here reaches the station memory or
// a file. GUI thread.

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chatterly {

class FoundStations {
  public:
    // At most this many services are kept, shown or waiting; more are
    // ignored until some leave, so a flood of announcements costs a bounded
    // list and a bounded number of resolvers.
    static constexpr size_t kMaxServices = 256;

    struct Row {
        QString name;         // as announced, cleaned
        std::string address;  // dotted IPv4: what a call to it dials
        QString hostName;     // cleaned
        QString alias;        // the station memory's alias for the address, if any
    };
    // The memory's alias for an address (in the memory's own 8-bit text),
    // or none.
    using AliasOf = std::function<std::optional<QString>(const std::string& address)>;

    explicit FoundStations(uint16_t callPort);

    // A service the browser reports. False when the list is full (the
    // service is ignored: no resolver for it).
    bool found(int interface, std::string_view name, std::string_view domain);
    void resolved(int interface, std::string_view name, std::string_view domain,
                  std::string_view hostName, const std::string& address, uint16_t port);
    // Gone on one interface (withdrawn, timed out, or its resolution failed).
    void removed(int interface, std::string_view name, std::string_view domain);
    // The daemon has gone: everything found goes with it.
    void clear();

    // The stations shown: resolved ones, sorted by name without regard to
    // case (then by address), each once.
    std::vector<Row> rows(const AliasOf& aliasOf) const;
    size_t shownCount() const;

    // Called after every change.
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

  private:
    struct Resolution {
        bool done = false;
        std::string address;
        std::string hostName;
        uint16_t port = 0;
    };
    using Key = std::pair<std::string, std::string>;  // name, domain

    void changed();

    const uint16_t callPort_;
    std::map<Key, std::map<int, Resolution>> services_;  // by interface
    size_t entries_ = 0;                                 // (service, interface) pairs
    std::function<void()> onChange_;
};

}  // namespace chatterly
