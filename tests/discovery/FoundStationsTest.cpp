// The list of found stations driven as the Avahi client's callbacks drive it
// (a service found, resolved, removed; the daemon gone and back), the name a
// station is announced under when another host holds it, and what text from
// the network looks like once shown.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "discovery/AnnouncedName.h"
#include "discovery/FoundStations.h"
#include "discovery/NetworkText.h"

using namespace chatterly;

namespace {

constexpr uint16_t kPort = 2005;

// One callback of the browser or a resolver, or the daemon's end.
struct Event {
    enum Kind { Found, Resolved, Removed, DaemonGone } kind;
    int interface = 1;
    std::string name;
    std::string address;
    uint16_t port = kPort;
    std::string host = "host.local";
};

Event found(std::string name, int interface = 1) {
    return {Event::Found, interface, std::move(name), {}};
}
Event resolved(std::string name, std::string address, int interface = 1, uint16_t port = kPort) {
    return {Event::Resolved, interface, std::move(name), std::move(address), port};
}
Event removed(std::string name, int interface = 1) {
    return {Event::Removed, interface, std::move(name), {}};
}
Event daemonGone() {
    return {Event::DaemonGone, 0, {}, {}};
}
Event station(std::string name, std::string address) {  // found, then resolved: see both
    return {Event::Found, 1, std::move(name), std::move(address)};
}

void apply(FoundStations& list, const Event& e) {
    switch (e.kind) {
        case Event::Found:
            list.found(e.interface, e.name, "local");
            if (!e.address.empty()) {
                list.resolved(e.interface, e.name, "local", e.host, e.address, e.port);
            }
            break;
        case Event::Resolved:
            list.resolved(e.interface, e.name, "local", e.host, e.address, e.port);
            break;
        case Event::Removed:
            list.removed(e.interface, e.name, "local");
            break;
        case Event::DaemonGone:
            list.clear();
            break;
    }
}

// Each row as "name|address|alias".
std::vector<std::string> shown(const FoundStations& list) {
    const std::map<std::string, QString> memory{{"10.0.0.2", QStringLiteral("desk")}};
    std::vector<std::string> rows;
    for (const auto& row : list.rows([&](const std::string& address) -> std::optional<QString> {
             const auto it = memory.find(address);
             return it == memory.end() ? std::nullopt : std::optional(it->second);
         })) {
        rows.push_back(row.name.toStdString() + "|" + row.address + "|" + row.alias.toStdString());
    }
    return rows;
}

struct ListCase {
    const char* what;
    std::vector<Event> events;
    std::vector<std::string> rows;
};

class FoundStationsList : public ::testing::TestWithParam<ListCase> {};

TEST_P(FoundStationsList, ShowsWhatTheCallbacksLeave) {
    SCOPED_TRACE(GetParam().what);
    FoundStations list(kPort);
    int changes = 0;
    list.setOnChange([&] { ++changes; });
    for (const Event& e : GetParam().events) {
        apply(list, e);
    }
    EXPECT_EQ(shown(list), GetParam().rows);
    EXPECT_EQ(list.shownCount(), GetParam().rows.size());
    if (!GetParam().rows.empty()) {
        EXPECT_GT(changes, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Callbacks, FoundStationsList,
    ::testing::Values(
        ListCase{"found but not yet resolved: not callable, not shown", {found("desk")}, {}},
        ListCase{"resolved: shown with the memory's alias for its address",
                 {found("bravo"), resolved("bravo", "10.0.0.2")},
                 {"bravo|10.0.0.2|desk"}},
        ListCase{"sorted by name without regard to case",
                 {station("charlie", "10.0.0.3"), station("Bravo", "10.0.0.9"),
                  station("alpha", "10.0.0.1")},
                 {"alpha|10.0.0.1|", "Bravo|10.0.0.9|", "charlie|10.0.0.3|"}},
        ListCase{"withdrawn: gone at once",
                 {station("bravo", "10.0.0.2"), station("charlie", "10.0.0.3"), removed("bravo")},
                 {"charlie|10.0.0.3|"}},
        ListCase{"seen on two interfaces: one row, until both have lost it",
                 {station("bravo", "10.0.0.2"), found("bravo", 2), resolved("bravo", "10.0.0.2", 2),
                  removed("bravo", 1)},
                 {"bravo|10.0.0.2|desk"}},
        ListCase{"a resolution for a service that left meanwhile is dropped",
                 {found("bravo"), removed("bravo"), resolved("bravo", "10.0.0.2")},
                 {}},
        ListCase{"a service on another port is no station to call",
                 {found("web"), resolved("web", "10.0.0.5", 1, 80)},
                 {}},
        ListCase{"the daemon gone: nothing found stays",
                 {station("bravo", "10.0.0.2"), daemonGone()},
                 {}},
        ListCase{"the daemon back: found anew",
                 {station("bravo", "10.0.0.2"), daemonGone(), station("bravo", "10.0.0.2")},
                 {"bravo|10.0.0.2|desk"}},
        ListCase{
            "hostile names: controls and direction overrides go, markup stays text",
            {station("\x1b[31mred\nline\t", "10.0.0.7"), station("<b>bold</b>&amp;", "10.0.0.8"),
             station("ab\xe2\x80\xae"
                     "cd",
                     "10.0.0.9"),
             station("bad\xff"
                     "byte",
                     "10.0.0.6")},
            {"<b>bold</b>&amp;|10.0.0.8|", "[31mredline|10.0.0.7|",
             "ab"
             "cd|10.0.0.9|",
             "bad\xef\xbf\xbd"
             "byte|10.0.0.6|"}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(FoundStationsBound, AFloodKeepsTheListAndItsResolutionsBounded) {
    FoundStations list(kPort);
    size_t accepted = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::string name = "flood " + std::to_string(i);
        if (list.found(1, name, "local")) {
            ++accepted;
            list.resolved(1, name, "local", "h.local", "10.1.0.1", kPort);
        }
    }
    EXPECT_EQ(accepted, FoundStations::kMaxServices);
    EXPECT_EQ(list.shownCount(), FoundStations::kMaxServices);
    // One that leaves makes room for one more.
    list.removed(1, "flood 0", "local");
    EXPECT_TRUE(list.found(1, "late", "local"));
    EXPECT_FALSE(list.found(1, "later", "local"));
    // Names longer than a DNS label are kept no longer than one.
    FoundStations names(kPort);
    names.found(1, std::string(300, 'n'), "local");
    names.resolved(1, std::string(300, 'n'), "local", std::string(1000, 'h'), "10.0.0.1", kPort);
    const auto rows = names.rows({});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name.size(), 63);
    EXPECT_EQ(rows[0].hostName.size(), 255);
}

TEST(AnnouncedName, ACollisionTakesTheNextAlternativeAndTheNameThatStandsIsSaidOnce) {
    AnnouncedName name("desk");
    EXPECT_EQ(name.established(), std::nullopt);  // the name asked for: nothing to say
    name.collided();
    EXPECT_EQ(name.current(), "desk #2");
    name.collided();
    EXPECT_EQ(name.current(), "desk #3");
    const auto notice = name.established();
    ASSERT_TRUE(notice.has_value());
    EXPECT_EQ(notice->toStdString(),
              "This station is announced as \"desk #3\": \"desk\" is taken on the network.");
    EXPECT_EQ(name.established(), std::nullopt);  // once
}

TEST(NetworkText, ASettingBecomesOneLabelWithoutSplittingACharacter) {
    const struct {
        std::string text;
        std::string label;
    } kCases[] = {
        {"  desk  ", "desk"},
        {"front\tdesk\n", "frontdesk"},
        {std::string(70, 'a'), std::string(63, 'a')},
        // 31 two-byte letters are 62 bytes: the 32nd would pass 63.
        {[] {
             std::string s;
             for (int i = 0; i < 40; ++i)
                 s += "\xc3\xa9";
             return s;
         }(),
         [] {
             std::string s;
             for (int i = 0; i < 31; ++i)
                 s += "\xc3\xa9";
             return s;
         }()},
        {"\x01\x02", ""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(NetworkText::label(c.text), c.label) << c.text;
    }
}

}  // namespace
