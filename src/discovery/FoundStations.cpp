#include "discovery/FoundStations.h"

#include <algorithm>

#include "discovery/NetworkText.h"

namespace chatterly {
namespace {

std::string bounded(std::string_view text, size_t most) {
    return std::string(text.substr(0, most));
}

}  // namespace

FoundStations::FoundStations(uint16_t callPort) : callPort_(callPort) {}

bool FoundStations::found(int interface, std::string_view name, std::string_view domain) {
    const Key key{bounded(name, NetworkText::kMaxLabel), bounded(domain, NetworkText::kMaxName)};
    auto service = services_.find(key);
    if (service != services_.end() && service->second.count(interface)) {
        return true;  // already known there; its resolution stands
    }
    if (entries_ >= kMaxServices) {
        return false;
    }
    services_[key][interface];
    ++entries_;
    return true;
}

void FoundStations::resolved(int interface, std::string_view name, std::string_view domain,
                             std::string_view hostName, const std::string& address, uint16_t port) {
    const Key key{bounded(name, NetworkText::kMaxLabel), bounded(domain, NetworkText::kMaxName)};
    auto service = services_.find(key);
    if (service == services_.end()) {
        return;  // removed meanwhile
    }
    auto place = service->second.find(interface);
    if (place == service->second.end()) {
        return;
    }
    place->second = {true, address, bounded(hostName, NetworkText::kMaxName), port};
    changed();
}

void FoundStations::removed(int interface, std::string_view name, std::string_view domain) {
    const Key key{bounded(name, NetworkText::kMaxLabel), bounded(domain, NetworkText::kMaxName)};
    auto service = services_.find(key);
    if (service == services_.end() || service->second.erase(interface) == 0) {
        return;
    }
    --entries_;
    if (service->second.empty()) {
        services_.erase(service);
    }
    changed();
}

void FoundStations::clear() {
    if (services_.empty()) {
        return;
    }
    services_.clear();
    entries_ = 0;
    changed();
}

std::vector<FoundStations::Row> FoundStations::rows(const AliasOf& aliasOf) const {
    std::vector<Row> rows;
    for (const auto& [key, interfaces] : services_) {
        // One row a service: the first interface that resolved it.
        for (const auto& [interface, r] : interfaces) {
            if (!r.done || r.port != callPort_) {
                continue;
            }
            Row row{NetworkText::clean(key.first, NetworkText::kMaxLabel),
                    r.address,
                    NetworkText::clean(r.hostName, NetworkText::kMaxName),
                    {}};
            if (aliasOf) {
                row.alias = aliasOf(r.address).value_or(QString());
            }
            rows.push_back(std::move(row));
            break;
        }
    }
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        const int order = a.name.compare(b.name, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.address < b.address;
    });
    return rows;
}

size_t FoundStations::shownCount() const {
    return rows({}).size();
}

void FoundStations::changed() {
    if (onChange_) {
        onChange_();
    }
}

}  // namespace chatterly
