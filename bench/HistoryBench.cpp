// The message history with 10 000 messages: opening a store that adopts
// them all (a new index beside the files), opening it again, listing it
// newest first (what the history window does at every change), keeping a
// 30 s message (what keeping adds between a message's arrival and its first
// sample), with and without the cap making room (the file's fsync included,
// so this figure depends on the disk); the history window opened and shown
// over them, "chatterly --history" run as a program, and a message played
// from the history: the press to its first sample at the sound server.
// Usage: bench_history [PROGRAM]

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

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCoreApplication>

#include "BenchApp.h"
#include "BenchReport.h"
#include "BenchTiming.h"
#include "app/StationHistory.h"
#include "app/StationSettings.h"
#include "audio/Playback.h"
#include "history/HistoryPlayer.h"
#include "history/HistoryStore.h"
#include "history/HistoryWindow.h"

using namespace chatterly;
using bench::Clock;
using bench::Figure;
using bench::Goal;
using bench::msSince;

namespace {

constexpr int kMessages = 10000;
constexpr size_t kImageBytes = 2048;
constexpr int kRounds = 5;
constexpr int kKeeps = 50;
// A 30 s recording: 16-bit mono at 22 050 Hz and its 44-byte header.
constexpr size_t kThirtySecondsBytes = 30 * 22050 * 2 + 44;
constexpr int64_t kStartMs = 1796838012345;  // 2026-12-09 17:40:12.345 UTC

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

// The mean time of a keep() of a 30 s message into a store of kMessages
// messages.
double keepMs(HistoryStore& store) {
    const std::vector<uint8_t> image(kThirtySecondsBytes, 'y');
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

// A short tone as a station records it.
std::vector<uint8_t> toneImage() {
    constexpr uint32_t kRate = 22050;
    constexpr uint32_t kSamples = kRate / 5;
    std::vector<uint8_t> image;
    const auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            image.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    };
    const auto tag = [&](const char* t) { image.insert(image.end(), t, t + 4); };
    tag("RIFF");
    put(36 + kSamples * 2, 4);
    tag("WAVE");
    tag("fmt ");
    put(16, 4);
    put(1, 2);
    put(1, 2);
    put(kRate, 4);
    put(kRate * 2, 4);
    put(2, 2);
    put(16, 2);
    tag("data");
    put(kSamples * 2, 4);
    for (uint32_t i = 0; i < kSamples; ++i) {
        put(static_cast<uint16_t>((i / 25) % 2 ? 8000 : -8000), 2);
    }
    return image;
}

// A program's run, from its start to its end, in milliseconds.
double runMs(const char* program, const char* option) {
    char* const argv[] = {const_cast<char*>(program), const_cast<char*>(option), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) != 0) {
        die("cannot start the program");
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double ms = msSince(start);
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        die("the program's listing failed");
    }
    return ms;
}

class NoPlayer : public HistoryPlayer {
  public:
    void playMessages(const std::vector<int64_t>&) override {}
    void stopMessages() override {}
    bool holdMessages() const override { return false; }
    void setHoldMessages(bool) override {}
    double speed() const override { return 1; }
    void setSpeed(double) override {}
    bool speedForLive() const override { return false; }
    void setSpeedForLive(bool) override {}
};

}  // namespace

int main(int argc, char** argv) {
    bench::BenchApp app(argc, argv);
    const std::string program = argc > 1 ? argv[1] : CHATTERLY_PROGRAM;
    std::string dir = (std::filesystem::temp_directory_path() / "history-bench-XXXXXX").string();
    if (!mkdtemp(dir.data())) {
        die("mkdtemp");
    }
    std::filesystem::current_path(dir);
    writeMessages();

    auto start = Clock::now();
    std::shared_ptr<HistoryStore> store = std::make_shared<HistoryStore>(HistoryStore::Options{});
    const double adoptMs = msSince(start);
    if (store->newestFirst().size() != kMessages) {
        die("the files were not all adopted");
    }
    store.reset();
    start = Clock::now();
    store = std::make_shared<HistoryStore>(HistoryStore::Options{});
    const double openMs = msSince(start);

    size_t listed = 0;
    const double listMs = bench::bestMs(kRounds, [&] { listed = store->newestFirst().size(); });
    const double freeKeepMs = keepMs(*store);
    if (listed != kMessages || store->newestFirst().size() != kMessages + kKeeps) {
        die("the history lost or gained messages");
    }
    store->setCap(store->totalBytes());
    const double fullKeepMs = keepMs(*store);

    // The window: made, filled and shown, its first paint done.
    double windowMs = 1e300;
    for (int i = 0; i < kRounds; ++i) {
        NoPlayer player;
        const auto opened = Clock::now();
        HistoryWindow window(*store, player);
        window.show();
        QCoreApplication::processEvents();
        windowMs = std::min(windowMs, msSince(opened));
    }
    double listingMs = 1e300;
    for (int i = 0; i < kRounds; ++i) {
        listingMs = std::min(listingMs, runMs(program.c_str(), "--history"));
    }

    // Played from the history: from the press to the first sample.
    const std::vector<uint8_t> tone = toneImage();
    MessageInfo info;
    info.address = "10.0.0.2";
    const int64_t toneId = store->keep(info, tone.data(), tone.size()).id;
    StationSettings settings("bench.ini");
    StationHistory history(store, settings, [](bool) {});
    double pressMs = 1e300;
    for (int i = 0; i < kRounds; ++i) {
        const auto pressed = Clock::now();
        history.playMessages({toneId});
        const auto first = Playback::lastMessageStart();
        if (!first || *first < pressed) {
            die("the message from the history did not play (no sound server?)");
        }
        pressMs =
            std::min(pressMs, std::chrono::duration<double, std::milli>(*first - pressed).count());
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
    std::printf(
        "history window %.1f ms, chatterly --history %.1f ms, press to first sample %.1f ms\n",
        windowMs, listingMs, pressMs);
    report(Figure{"history window, 10k messages: open", windowMs, "ms", {}, Goal::AtMost, 150});
    report(Figure{"chatterly --history, 10k messages", listingMs, "ms", {}, Goal::AtMost, 100});
    report(Figure{"history: play press to first sample", pressMs, "ms", {}, Goal::AtMost, 30});

    std::filesystem::current_path("/");
    std::filesystem::remove_all(dir);
    return 0;
}
