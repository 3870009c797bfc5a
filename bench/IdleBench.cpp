// What a station costs while nothing is said: the CPU it uses, as a share of
// one core, over 10 s idle, 10 s in an incoming call and 10 s in an outgoing
// call with no message either way. A real station (its window shown on the
// offscreen platform, the sound server of tools/bench.sh) runs its own event
// loop meanwhile; the far ends are plain sockets on loopback that do nothing.
// Nobody types meanwhile, so the caret has stopped blinking (CaretRest).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "BenchApp.h"
#include "BenchLoop.h"
#include "BenchReport.h"
#include "BenchStation.h"
#include "app/CStationDlg.h"
#include "app/Station.h"
#include "control/CallController.h"
#include "control/ControlIds.h"
#include "framework/widgets/CaretRest.h"
#include "framework/widgets/MessageBox.h"

using namespace chatterly;
using bench::cpuSeconds;
using bench::Figure;
using bench::Goal;
using bench::runFor;
using bench::runUntil;

namespace {

constexpr int kSeconds = 10;

// Each thread's CPU time so far in ns, by "name tid", from the scheduler.
std::map<std::string, double> threadTimes() {
    std::map<std::string, double> times;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream stat(task.path() / "schedstat");
        std::ifstream comm(task.path() / "comm");
        double ns = 0;
        std::string name;
        if (stat >> ns && std::getline(comm, name)) {
            times[name + " " + task.path().filename().string()] = ns;
        }
    }
    return times;
}

double percentOfACore() {
    const double before = cpuSeconds();
    const auto threadsBefore = threadTimes();
    const auto start = std::chrono::steady_clock::now();
    runFor(kSeconds * 1000);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double percent = (cpuSeconds() - before) / wall * 100;
    for (const auto& [thread, ns] : threadTimes()) {
        const auto was = threadsBefore.find(thread);
        const double used = ns - (was == threadsBefore.end() ? 0 : was->second);
        if (used / 1e9 / wall * 100 >= 0.005) {
            std::printf("    %-24s %.3f %%\n", thread.c_str(), used / 1e9 / wall * 100);
        }
    }
    return percent;
}

int loopbackSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

void measure(const char* name, double target) {
    const double percent = percentOfACore();
    std::printf("%-40s %.3f %% of a core over %d s\n", name, percent, kSeconds);
    report(Figure{name, percent, "%", {}, Goal::AtMost, target});
}

}  // namespace

int main(int argc, char** argv) {
    bench::BenchApp app(argc, argv);

    // The far end of the outgoing call: it accepts and then says nothing.
    const int listener = loopbackSocket();
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("listen");
        return 1;
    }
    StationOptions options;
    options.callPort = ntohs(addr.sin_port);
    const auto owned = bench::listeningStation(options);
    Station& station = *owned;
    CaretRest::install();
    station.window().show();
    // An idle station: nobody has typed for a while, so the caret rests.
    runFor(CaretRest::kRestAfterMs + 500);
    measure("idle station, CPU", 0.5);

    const int caller = loopbackSocket();
    sockaddr_in station_addr = loopback(station.listeningPort());
    if (::connect(caller, reinterpret_cast<sockaddr*>(&station_addr), sizeof station_addr) != 0 ||
        !runUntil([&] { return station.controller().incomingCall(); }, 20000)) {
        std::fprintf(stderr, "the incoming call did not stand\n");
        return 1;
    }
    runFor(500);
    measure("in an incoming call, no message, CPU", 0.2);
    ::close(caller);
    if (!runUntil([&] { return !station.controller().incomingCall(); }, 20000)) {
        std::fprintf(stderr, "the incoming call did not end\n");
        return 1;
    }

    int called = -1;
    std::thread accepter([&] { called = ::accept(listener, nullptr, nullptr); });
    qobject_cast<QComboBox*>(station.window().Control(IDC_REMOTE))->setEditText("127.0.0.1");
    station.controller().OnConnectButton();
    auto* talk = qobject_cast<QPushButton*>(station.window().Control(IDC_TALK));
    if (!runUntil([&] { return talk->isEnabled(); }, 20000)) {
        std::fprintf(stderr, "the outgoing call did not stand\n");
        return 1;
    }
    accepter.join();
    runFor(500);
    measure("in an outgoing call, no message, CPU", 0.2);
    station.controller().Disconnect();
    runFor(700);
    ::close(called);
    ::close(listener);
    return 0;
}
