// Start-up: from starting the station program to its window shown and its
// port listening, with no memory file and with 1 000, 10 000 and 100 000
// remembered stations. The program runs in a working directory of its own,
// in a network namespace of its own where the system allows one (so that
// its port is its own), on the X display of DISPLAY; the window counts as
// shown when the X server maps it. The program never reaches the machine's
// system bus, so it finds no Avahi daemon to announce itself through.
//
// With --with-avahi (run on a host whose system bus has an Avahi daemon, as
// bench/discovery.sh does): start-up with no memory file, the daemon
// reachable against not, rounds taken in turn; the difference is what
// announcing and browsing add to the start.
// Usage: bench_startup [PROGRAM [--with-avahi]]

#include <X11/Xlib.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "framework/streams/CStringArray.h"
#include "memory/StationMemory.h"

using namespace chatterly;
using bench::Figure;
using bench::Goal;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 3;
constexpr auto kLimit = std::chrono::seconds(60);

// Half the stations with an alias, as the memory dialog leaves them.
void writeMemory(const std::filesystem::path& dir, int stations) {
    std::filesystem::current_path(dir);
    CStringArray entries;
    for (int i = 0; i < stations; ++i) {
        std::string address = "10." + std::to_string(i >> 16) + "." +
                              std::to_string((i >> 8) & 0xFF) + "." + std::to_string(i & 0xFF);
        entries.Add(i % 2 ? address : address + " == station" + std::to_string(i));
    }
    StationMemory memory;
    memory.rebuildFromEntries(entries);
    memory.SaveMemory();
}

// Whether the process's network namespace has a socket listening on 2005.
bool listening(pid_t pid) {
    for (const char* table : {"tcp", "tcp6"}) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/net/" + table);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            // "  sl  local_address rem_address   st ...": local ends in :07D5, st 0A.
            const auto colon = line.find(':', line.find(':') + 1);
            if (colon != std::string::npos && line.compare(colon + 1, 4, "07D5") == 0 &&
                line.find(" 0A ") != std::string::npos) {
                return true;
            }
        }
    }
    return false;
}

// Milliseconds from the start to the window mapped and the port listening,
// or a negative number when either did not come within the limit.
double startOnce(Display* x, const std::string& program, const std::filesystem::path& dir,
                 bool systemBus = false) {
    XSelectInput(x, DefaultRootWindow(x), SubstructureNotifyMask);
    XSync(x, True);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        (void)unshare(CLONE_NEWNET);  // where allowed; else the host's port must be free
        if (!systemBus) {
            setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/chatterly-bench", 1);
        }
        if (chdir(dir.c_str()) != 0) {
            _exit(127);
        }
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    bool mapped = false;
    bool listens = false;
    double ms = -1;
    while (Clock::now() - start < kLimit) {
        while (XPending(x)) {
            XEvent event;
            XNextEvent(x, &event);
            mapped = mapped || event.type == MapNotify;
        }
        listens = listens || listening(pid);
        if (mapped && listens) {
            ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            break;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "the program ended during its start (status %d)\n", status);
            return -1;
        }
        pollfd fd{ConnectionNumber(x), POLLIN, 0};
        poll(&fd, 1, 1);
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    XSelectInput(x, DefaultRootWindow(x), NoEventMask);
    return ms;
}

double median(std::vector<double> runs) {
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

int withAvahi(Display* x, const std::string& program, const std::filesystem::path& dir) {
    constexpr int kPairs = 7;
    std::vector<double> with;
    std::vector<double> without;
    for (int i = 0; i < kPairs; ++i) {
        with.push_back(startOnce(x, program, dir, true));
        without.push_back(startOnce(x, program, dir, false));
    }
    if (*std::min_element(with.begin(), with.end()) < 0 ||
        *std::min_element(without.begin(), without.end()) < 0) {
        std::printf("start-up with Avahi: did not come up\n");
        return 1;
    }
    const double a = median(with);
    const double b = median(without);
    std::printf(
        "start-up with an Avahi daemon to announce through: %.0f ms, without: %.0f ms "
        "(medians of %d)\n",
        a, b, kPairs);
    report(Figure{"start-up, Avahi answering, minus without", a - b, "ms", {}, Goal::AtMost, 10});
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 1 ? argv[1] : CHATTERLY_PROGRAM;
    Display* x = XOpenDisplay(nullptr);
    if (!x) {
        std::printf("start-up: skipped, no X display (DISPLAY)\n");
        return 0;
    }
    const auto root = std::filesystem::temp_directory_path() / "startup-bench";
    std::filesystem::remove_all(root);
    if (argc > 2 && std::string(argv[2]) == "--with-avahi") {
        std::filesystem::create_directories(root);
        const int status = withAvahi(x, program, root);
        std::filesystem::current_path("/");
        std::filesystem::remove_all(root);
        XCloseDisplay(x);
        return status;
    }
    struct Case {
        int stations;
        double targetMs;
    };
    for (const Case c : {Case{0, 300}, Case{1000, 300}, Case{10000, 300}, Case{100000, 500}}) {
        const auto dir = root / std::to_string(c.stations);
        std::filesystem::create_directories(dir);
        if (c.stations > 0) {
            writeMemory(dir, c.stations);
        }
        std::vector<double> runs;
        for (int i = 0; i < kRounds; ++i) {
            runs.push_back(startOnce(x, program, dir));
        }
        std::sort(runs.begin(), runs.end());
        const double median = runs[runs.size() / 2];
        if (runs.front() < 0) {
            std::printf("start-up with %d stations: did not come up\n", c.stations);
            return 1;
        }
        std::printf("start-up with %6d stations: %.0f ms (median of %d; %.0f-%.0f)\n", c.stations,
                    median, kRounds, runs.front(), runs.back());
        const std::string name = c.stations == 0
                                     ? std::string("start-up, no memory file")
                                     : "start-up, " + std::to_string(c.stations) + " stations";
        report(Figure{name, median, "ms", {}, Goal::AtMost, c.targetMs});
    }
    std::filesystem::current_path("/");
    std::filesystem::remove_all(root);
    XCloseDisplay(x);
    return 0;
}
