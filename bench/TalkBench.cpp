// Talk from outside the window, and what the meter costs while recording: a
// real station in an incoming call (a plain socket on loopback that reads
// what it is sent), with its socket in this benchmark's working directory as
// the program has it.
// - "chatterly --talk", the real program started 20 times, from its start to
//   the station's recorder running (the station's talk request answered
//   "recording"); median. Each press is released by a second run. Then the
//   same request made from a thread of this process: the station's own part.
// - The station's CPU over 10 s of recording with the level meter and clock
//   shown, less the same without them (the display stopped), as a share of
//   one core.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchApp.h"
#include "BenchLoop.h"
#include "BenchReport.h"
#include "BenchStation.h"
#include "app/CStationDlg.h"
#include "app/RecordingDisplay.h"
#include "app/Station.h"
#include "app/StationLock.h"
#include "app/TalkCommand.h"
#include "audio/VoiceRecorder.h"
#include "control/CallController.h"
#include "control/ControlIds.h"

extern char** environ;

using namespace chatterly;
using bench::cpuSeconds;
using bench::Figure;
using bench::Goal;
using bench::runFor;
using bench::runUntil;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 20;
constexpr int kSeconds = 10;

// The process's CPU over kSeconds of its event loop, in % of one core.
double percentOfACore() {
    const double before = cpuSeconds();
    const auto start = Clock::now();
    runFor(kSeconds * 1000);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    return (cpuSeconds() - before) / wall * 100;
}

// Starts "chatterly --talk" (its words to /dev/null); its pid.
pid_t startTalk(const char* program) {
    char* const argv[] = {const_cast<char*>(program), const_cast<char*>("--talk"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    bench::BenchApp app(argc, argv);
    const char* program = argc > 1 ? argv[1] : CHATTERLY_PROGRAM;

    const auto owned = bench::listeningStation();
    Station& station = *owned;
    station.window().show();
    // The microphone is the null sink's silence, which the voice's clean-up
    // would not send: the station records as captured.
    station.recorder().setCleanUp(VoiceCleanup::Level::Off);
    std::optional<Clock::time_point> recording;
    StationLock lock;
    if (!lock.claim()) {
        die("a station runs in this directory already");
    }
    lock.listen([&station] { station.window().bringToFront(); },
                [&station, &recording] {
                    std::string reply = station.window().OnTalkCommand();
                    if (reply == "recording") {
                        recording = Clock::now();
                    }
                    return reply;
                });

    // The caller: connects, then reads and drops every frame it is sent.
    const int caller = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(station.listeningPort());
    if (::connect(caller, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        !runUntil([&] { return station.controller().incomingCall(); }, 20000)) {
        die("the incoming call did not stand");
    }
    std::thread reader([caller] {
        char bytes[65536];
        while (::recv(caller, bytes, sizeof bytes, 0) > 0) {
        }
    });
    auto* talk = qobject_cast<QPushButton*>(station.window().Control(IDC_TALK));

    // A run of the command, with the station serving meanwhile.
    const auto command = [&] {
        const pid_t pid = startTalk(program);
        if (pid < 0) {
            die("cannot start the program");
        }
        int status = -1;
        if (!runUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 20000) ||
            !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            die("chatterly --talk failed");
        }
    };
    // The same request made from a thread of this process: the station's
    // own part, without the program's start (the loading of its libraries).
    const auto inProcess = [&] {
        std::FILE* out = std::tmpfile();
        std::thread client([out] { (void)TalkCommand::run(out, out); });
        runUntil([&] { return std::ftell(out) > 0; }, 20000);
        client.join();
        std::fclose(out);
    };
    const auto measured = [&](const std::function<void()>& press) {
        std::vector<double> ms;
        for (int i = 0; i < kRuns; ++i) {
            recording.reset();
            const auto start = Clock::now();
            press();
            if (!recording || !talk->isChecked()) {
                die("chatterly --talk did not start the recorder");
            }
            ms.push_back(std::chrono::duration<double, std::milli>(*recording - start).count());
            press();  // sends the message
            runFor(50);
        }
        std::sort(ms.begin(), ms.end());
        return ms;
    };
    const std::vector<double> whole = measured(command);
    const std::vector<double> own = measured(inProcess);
    std::printf(
        "chatterly --talk to the recorder running: median %.1f ms (%.1f to %.1f); the "
        "station's own part %.1f ms\n",
        whole[kRuns / 2], whole.front(), whole.back(), own[kRuns / 2]);
    report(Figure{"chatterly --talk to the recorder running (median of 20)",
                  whole[kRuns / 2],
                  "ms",
                  {},
                  Goal::AtMost,
                  20});
    report(Figure{"the same, the request made in-process (the station's own part)",
                  own[kRuns / 2],
                  "ms",
                  {},
                  Goal::AtMost,
                  20});

    // Recording without the display, then with it.
    auto* display = station.window().findChild<RecordingDisplay*>();
    talk->click();
    display->stop();
    runFor(500);
    const double without = percentOfACore();
    talk->click();
    runFor(500);
    talk->click();
    runFor(500);
    const double with = percentOfACore();
    talk->click();
    std::printf("recording, CPU: %.3f %% of a core with the meter shown, %.3f %% without\n", with,
                without);
    report(Figure{"recording with the meter shown, CPU above recording without", with - without,
                  "%", without, Goal::AtMost, 1});

    station.controller().Disconnect();
    runFor(500);
    ::shutdown(caller, SHUT_RDWR);
    reader.join();
    ::close(caller);
    return 0;
}
