// The message history with 10 000 messages: opening a store that adopts
// them all (a new index beside the files), opening it again, listing it
// newest first (what the history window does at every change), and keeping
// a message, with and without the cap making room (the file's fsync
// included, so this figure depends on the disk).

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "history/HistoryStore.h"

using namespace chatterly;
using bench::Figure;
using bench::Goal;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kMessages = 10000;
constexpr size_t kImageBytes = 2048;
constexpr int kRounds = 5;
constexpr int kKeeps = 50;
constexpr int64_t kStartMs = 1796838012345;  // 2026-12-09 17:40:12.345 UTC

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double bestMs(const std::function<void()>& run) {
    double best = 1e300;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = Clock::now();
        run();
        best = std::min(best, msSince(start));
    }
    return best;
}

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

// Files as the station names them, a second apart, without their index.
void writeMessages() {
    std::filesystem::create_directory("History");
    const std::vector<char> image(kImageBytes, 'x');
    for (int i = 0; i < kMessages; ++i) {
        const time_t seconds = static_cast<time_t>(kStartMs / 1000 + i);
        std::tm t{};
        gmtime_r(&seconds, &t);
        char name[64];
        std::snprintf(name, sizeof name, "History/%04d%02d%02d-%02d%02d%02d-345-%04d-%s.wav",
                      t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                      i % 9999 + 1, i % 3 ? "in" : "out");
        std::FILE* f = std::fopen(name, "wb");
        if (!f || std::fwrite(image.data(), 1, image.size(), f) != image.size()) {
            die("cannot write a message file");
        }
        std::fclose(f);
    }
}

// The mean time of a keep() into a store of kMessages messages.
double keepMs(HistoryStore& store) {
    const std::vector<uint8_t> image(kImageBytes, 'y');
    MessageInfo info;
    info.address = "10.0.0.2";
    const auto start = Clock::now();
    for (int i = 0; i < kKeeps; ++i) {
        // Each its own call (adopted messages are of call 0): the cap, not a
        // call's share, makes room.
        info.call = i + 1;
        if (store.keep(info, image.data(), image.size()).kept != HistoryStore::Kept::Yes) {
            die("a message was not kept");
        }
    }
    return msSince(start) / kKeeps;
}

}  // namespace

int main() {
    std::string dir = (std::filesystem::temp_directory_path() / "history-bench-XXXXXX").string();
    if (!mkdtemp(dir.data())) {
        die("mkdtemp");
    }
    std::filesystem::current_path(dir);
    writeMessages();

    auto start = Clock::now();
    auto store = std::make_unique<HistoryStore>(HistoryStore::Options{});
    const double adoptMs = msSince(start);
    if (store->newestFirst().size() != kMessages) {
        die("the files were not all adopted");
    }
    store.reset();
    start = Clock::now();
    store = std::make_unique<HistoryStore>(HistoryStore::Options{});
    const double openMs = msSince(start);

    size_t listed = 0;
    const double listMs = bestMs([&] { listed = store->newestFirst().size(); });
    const double freeKeepMs = keepMs(*store);
    store->setCap(store->totalBytes());
    const double fullKeepMs = keepMs(*store);
    if (listed != kMessages || store->newestFirst().size() != kMessages + kKeeps) {
        die("the history lost or gained messages");
    }

    std::printf(
        "history, %d messages: open adopting them %.1f ms, open %.1f ms, newest first %.2f ms, "
        "keep %.2f ms, keep at the cap %.2f ms\n",
        kMessages, adoptMs, openMs, listMs, freeKeepMs, fullKeepMs);
    report(
        Figure{"history, 10k messages: open adopting them", adoptMs, "ms", {}, Goal::AtMost, 2000});
    report(Figure{"history, 10k messages: open", openMs, "ms", {}, Goal::AtMost, 200});
    report(Figure{"history, 10k messages: newest first", listMs, "ms", {}, Goal::AtMost, 25});
    report(Figure{"history, 10k messages: keep", freeKeepMs, "ms", {}, Goal::AtMost, 10});
    report(
        Figure{"history, 10k messages: keep at the cap", fullKeepMs, "ms", {}, Goal::AtMost, 10});

    std::filesystem::current_path("/");
    std::filesystem::remove_all(dir);
    return 0;
}
