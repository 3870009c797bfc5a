// Release to playback between two stations, both directions: from the Talk
// release on one station to the moment the first samples of its message are
// handed to the sound server on the other, for 1 s and 30 s messages. Station
// A calls station B over loopback, so A's message goes out from its caller
// worker and B's from its window; each is played at the other end as it
// would be in a call. Runs under a sound server (tools/bench.sh).

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>

#include "BenchApp.h"
#include "BenchReport.h"
#include "app/CStationDlg.h"
#include "app/Station.h"
#include "audio/Playback.h"
#include "audio/VoiceRecorder.h"
#include "control/CallController.h"
#include "control/ControlIds.h"
#include "framework/threads/WindowRequests.h"
#include "framework/widgets/MessageBox.h"

using namespace chatterly;
using bench::Figure;
using bench::Goal;
using bench::spin;
using Clock = std::chrono::steady_clock;

namespace {

// The sound server's buffer for the station's playback stream (PulseOutput).
constexpr double kServerBufferMs = 50;

void spinFor(Clock::duration d) {
    spin([] { return false; }, d);
}

QPushButton* talk(Station& s) {
    return qobject_cast<QPushButton*>(s.window().Control(IDC_TALK));
}

// One message from speaker to listener: press, speak for seconds, release;
// returns the milliseconds from the release to the listener's first samples
// at the sound server, or a negative number when the message never played.
double releaseToPlayback(Station& speaker, double seconds) {
    talk(speaker)->click();
    if (!spin([&] { return speaker.recorder().device().isRecording(); },
              std::chrono::seconds(10))) {
        return -1;
    }
    spinFor(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
    const auto released = Clock::now();
    talk(speaker)->click();
    const bool played = spin(
        [&] {
            const auto start = Playback::lastMessageStart();
            return start && *start > released;
        },
        std::chrono::seconds(60));
    if (!played) {
        return -1;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(*Playback::lastMessageStart() - released).count();
    // Let the message play out before the other side speaks.
    spinFor(
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds + 1)));
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    bench::BenchApp app(argc, argv);

    StationOptions listenerOptions;
    listenerOptions.listenPort = 0;
    Station b(listenerOptions);
    b.InitStationWindow();
    StationOptions callerOptions;
    callerOptions.listenPort = 0;
    callerOptions.callPort = b.listeningPort();
    Station a(callerOptions);
    a.InitStationWindow();
    if (b.listeningPort() == 0) {
        std::fprintf(stderr, "no sound server or no port: run under tools/with-sound-server.sh\n");
        return 1;
    }
    // The microphone is the null sink's silence, which the voice's clean-up
    // would not send: both stations record as captured.
    a.recorder().setCleanUp(VoiceCleanup::Level::Off);
    b.recorder().setCleanUp(VoiceCleanup::Level::Off);
    qobject_cast<QComboBox*>(a.window().Control(IDC_REMOTE))->setEditText("127.0.0.1");
    a.controller().OnConnectButton();
    if (!spin([&] { return b.controller().incomingCall() && talk(a)->isEnabled(); },
              std::chrono::seconds(20))) {
        std::fprintf(stderr, "the call did not stand\n");
        return 1;
    }
    std::printf("release -> first samples at the far end's sound server (its buffer: %.0f ms)\n",
                kServerBufferMs);
    for (const double seconds : {1.0, 30.0}) {
        const double outgoing = releaseToPlayback(a, seconds);
        const double incoming = releaseToPlayback(b, seconds);
        std::printf("%4.0f s message: caller -> called %7.1f ms, called -> caller %7.1f ms\n",
                    seconds, outgoing, incoming);
        for (const auto& [way, ms] :
             {std::pair{"caller to called", outgoing}, std::pair{"called to caller", incoming}}) {
            const std::string name =
                "release to playback, " + std::to_string(static_cast<int>(seconds)) + " s, " + way;
            report(Figure{name, ms < 0 ? 1e9 : ms, "ms", kServerBufferMs, Goal::AtMost,
                          kServerBufferMs + 50});
        }
    }
    a.controller().Disconnect();
    spinFor(std::chrono::milliseconds(600));
    return 0;
}
