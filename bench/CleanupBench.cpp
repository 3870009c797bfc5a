// The voice's clean-up and trim through a real station's microphone: a
// station in an incoming call (a plain socket on loopback that reads the
// frames it is sent) records while each mix of speech and noise
// (SpeechMix.h) plays into the null sink whose monitor is its microphone,
// and each frame's WAV is measured against its mix. Two espeak-ng voices,
// each in white noise and in hum, for a near speaker and a far one (the same
// mix 20 dB down), at clean-up off, gentle and strong.
// Figures per level: the noise left in the pauses between sentences and its
// drop against off, the speech level of the near and the far speaker, how
// much of the speech is kept (envelope correlation with the clean speech; the
// first word's onset), the silence left at both ends, the station's CPU while
// recording and its release to the frame's last byte at the caller against
// off, and the clean-up's own CPU per second of sound (in process). Needs
// espeak-ng, sox, paplay and a sound server (tools/with-sound-server.sh).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include "BenchApp.h"
#include "BenchLoop.h"
#include "BenchReport.h"
#include "BenchStation.h"
#include "SpeechMix.h"
#include "app/CStationDlg.h"
#include "app/Station.h"
#include "audio/VoiceCleanup.h"
#include "audio/VoiceRecorder.h"
#include "control/CallController.h"
#include "control/ControlIds.h"

extern char** environ;

using namespace chatterly;
using namespace chatterly::bench;
using Level = VoiceCleanup::Level;
using Clock = std::chrono::steady_clock;

namespace {

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

const char* name(Level level) {
    return level == Level::Off ? "off" : level == Level::Gentle ? "gentle" : "strong";
}

// The caller's end: reads every frame the station sends, with the moment
// its last byte came.
class Caller {
  public:
    explicit Caller(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            die("cannot call the station");
        }
        reader_ = std::thread([this] { read(); });
    }
    ~Caller() {
        ::shutdown(fd_, SHUT_RDWR);
        reader_.join();
        ::close(fd_);
    }

    size_t count() {
        std::lock_guard lock(mutex_);
        return frames_.size();
    }
    std::pair<std::vector<uint8_t>, Clock::time_point> frame(size_t i) {
        std::lock_guard lock(mutex_);
        return frames_[i];
    }

  private:
    bool readAll(uint8_t* to, size_t n) {
        for (size_t got = 0; got < n;) {
            const ssize_t r = ::recv(fd_, to + got, n - got, 0);
            if (r <= 0) {
                return false;
            }
            got += static_cast<size_t>(r);
        }
        return true;
    }
    void read() {
        uint8_t header[8];
        while (readAll(header, sizeof header)) {
            uint32_t length = 0;
            std::memcpy(&length, header + 4, 4);  // little-endian, as this machine
            std::vector<uint8_t> data(length);
            if (!readAll(data.data(), length)) {
                return;
            }
            std::lock_guard lock(mutex_);
            frames_.emplace_back(std::move(data), Clock::now());
        }
    }

    int fd_;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<std::pair<std::vector<uint8_t>, Clock::time_point>> frames_;
};

// A WAV image's 16-bit samples (its "data" chunk).
std::vector<double> samplesOf(const std::vector<uint8_t>& wav) {
    for (size_t at = 12; at + 8 <= wav.size();) {
        uint32_t size = 0;
        std::memcpy(&size, &wav[at + 4], 4);
        if (std::memcmp(&wav[at], "data", 4) == 0) {
            std::vector<double> s;
            for (size_t i = at + 8; i + 1 < std::min<size_t>(wav.size(), at + 8 + size); i += 2) {
                s.push_back(static_cast<int16_t>(wav[i] | (wav[i + 1] << 8)));
            }
            return s;
        }
        at += 8 + size + (size & 1);
    }
    die("a frame without a data chunk");
}

// Plays samples into the default sink (the microphone's monitor) with
// paplay, serving the station meanwhile.
void play(const std::vector<double>& samples, double gainDb) {
    const std::string file = "mix.raw";
    {
        std::ofstream out(file, std::ios::binary);
        const double gain = std::pow(10.0, gainDb / 20.0);
        for (double s : samples) {
            const auto v = static_cast<int16_t>(std::clamp(std::lround(s * gain), -32768L, 32767L));
            out.write(reinterpret_cast<const char*>(&v), sizeof v);
        }
    }
    const char* argv[] = {"paplay",         "--raw",      "--rate=22050", "--channels=1",
                          "--format=s16le", file.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "paplay", nullptr, nullptr, const_cast<char* const*>(argv), environ) !=
        0) {
        die("cannot start paplay");
    }
    int status = -1;
    if (!runUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 120000) ||
        !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        die("paplay failed");
    }
}

struct Take {
    std::optional<Kept> kept;  // nullopt: no frame was sent
    double releaseMs = 0;      // release to the frame's last byte at the caller
    double cpuPercent = 0;     // the station's CPU while recording, of one core
};

// One recording of a mix through the station: Talk, the mix played, Talk.
// The microphone gives silence until the mix reaches it, as a device that
// starts gives zeros.
Take record(Station& station, Caller& caller, const Mix& m, double gainDb) {
    auto* talk = qobject_cast<QPushButton*>(station.window().Control(IDC_TALK));
    const size_t before = caller.count();
    const double cpu0 = cpuSeconds();
    const auto start = Clock::now();
    talk->click();
    if (!talk->isChecked()) {
        die("the station did not start recording");
    }
    runFor(200);
    play(m.noisy, gainDb);
    runFor(300);
    Take t;
    t.cpuPercent =
        (cpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - start).count() * 100.0;
    const auto release = Clock::now();
    talk->click();
    if (!runUntil([&] { return caller.count() > before; }, 5000)) {
        return t;
    }
    const auto [wav, last] = caller.frame(before);
    t.releaseMs = std::chrono::duration<double, std::milli>(last - release).count();
    t.kept = measure(m, samplesOf(wav));
    return t;
}

// The clean-up's own CPU per second of sound, fed in 10 ms pieces as the
// capture thread feeds it.
double cleanupMsPerSecond(const Mix& m) {
    std::vector<int16_t> in(m.noisy.size());
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<int16_t>(std::clamp(std::lround(m.noisy[i]), -32768L, 32767L));
    }
    timespec t0{}, t1{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
    VoiceCleanup cleanup(Level::Gentle);
    std::vector<int16_t> out;
    for (size_t i = 0; i < in.size(); i += kWindow) {
        cleanup.process(in.data() + i, std::min(kWindow, in.size() - i), out);
    }
    cleanup.finish(out);
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
    const double ms = static_cast<double>(t1.tv_sec - t0.tv_sec) * 1e3 +
                      static_cast<double>(t1.tv_nsec - t0.tv_nsec) / 1e6;
    return ms / (static_cast<double>(in.size()) / kRate);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    BenchApp app(argc, argv);
    const char* sentences[] = {
        "Hello, this is the station by the door.",
        "The parcel came this morning, and I put it on the shelf.",
        "Call me back when you have a moment.",
    };
    std::vector<Mix> mixes;
    for (const char* voice : {"en", "en-us+f3"}) {
        std::vector<std::vector<double>> spoken;
        for (const char* s : sentences) {
            spoken.push_back(speech(voice, s));
        }
        mixes.push_back(mix(std::string(voice) + " in white noise", spoken, false));
        mixes.push_back(mix(std::string(voice) + " in hum", spoken, true));
    }

    const auto owned = listeningStation();
    Station& station = *owned;
    station.window().show();
    Caller caller(station.listeningPort());
    if (!runUntil([&] { return station.controller().incomingCall(); }, 20000)) {
        die("the incoming call did not stand");
    }

    double offPause = -120, offRelease = 0, offCpu = 0;
    for (Level level : {Level::Off, Level::Gentle, Level::Strong}) {
        station.recorder().setCleanUp(level);
        double pause = -120, nearFar = 0, corr = 1, onset = 0, lead = 0, tail = 0;
        std::vector<double> release, cpu;
        bool allSent = true;
        for (const auto& m : mixes) {
            const Take near = record(station, caller, m, 0);
            const Take far = record(station, caller, m, -20);
            if (!near.kept || !far.kept) {
                std::printf("%-7s %-23s NO FRAME SENT\n", name(level), m.name.c_str());
                allSent = false;
                continue;
            }
            const Kept& n = *near.kept;
            const Kept& f = *far.kept;
            std::printf(
                "%-7s %-23s pause %6.1f (far %6.1f) dBFS  speech near %6.1f far %6.1f dBFS  "
                "corr %.3f/%.3f  onset %+4.0f/%+4.0f ms  lead %4.0f tail %4.0f ms  release "
                "%.1f ms  cpu %.2f %%\n",
                name(level), m.name.c_str(), n.pauseDb, f.pauseDb, n.speechDb, f.speechDb,
                n.correlation, f.correlation, n.onsetErrorMs, f.onsetErrorMs, n.leadMs, n.tailMs,
                near.releaseMs, near.cpuPercent);
            // The noise in the pauses, per mix, for tools/bench.sh's chart.
            std::printf("CHART\tcleanup noise\t%s\t%s\t%.1f\n", m.name.c_str(), name(level),
                        n.pauseDb);
            pause = std::max(pause, n.pauseDb);
            nearFar = std::max(nearFar, std::abs(n.speechDb - f.speechDb));
            corr = std::min({corr, n.correlation, f.correlation});
            onset = std::max({onset, std::abs(n.onsetErrorMs), std::abs(f.onsetErrorMs)});
            lead = std::max({lead, n.leadMs, f.leadMs});
            tail = std::max({tail, n.tailMs, f.tailMs});
            release.insert(release.end(), {near.releaseMs, far.releaseMs});
            cpu.insert(cpu.end(), {near.cpuPercent, far.cpuPercent});
        }
        if (!allSent) {
            die("a recording with speech sent no frame");
        }
        const std::string n = std::string("cleanup ") + name(level) + " ";
        report(Figure{n + "pause noise", pause, "dBFS", {}, Goal::AtMost, 0});
        if (level == Level::Off) {
            offPause = pause;
            offRelease = median(release);
            offCpu = median(cpu);
            continue;
        }
        report(Figure{n + "pause noise drop", offPause - pause, "dB", {}, Goal::AtLeast, 15});
        report(Figure{n + "near/far speech difference", nearFar, "dB", {}, Goal::AtMost, 3});
        report(Figure{n + "envelope correlation", corr, "", {}, Goal::AtLeast, 0.6});
        report(Figure{n + "onset error", onset, "ms", {}, Goal::AtMost, 30});
        report(Figure{n + "silence before", lead, "ms", {}, Goal::AtMost, 200});
        report(Figure{n + "silence after", tail, "ms", {}, Goal::AtMost, 200});
        report(Figure{n + "release to last byte, above off", median(release) - offRelease, "ms",
                      offRelease, Goal::AtMost, 2});
        report(Figure{n + "CPU while recording, above off", median(cpu) - offCpu, "%", offCpu,
                      Goal::AtMost, 2});
    }
    double own = 0;
    for (const auto& m : mixes) {
        own = std::max(own, cleanupMsPerSecond(m));
    }
    std::printf("the clean-up's own CPU: %.2f ms per second of sound\n", own);
    report(Figure{"cleanup CPU per second of sound, in process", own, "ms", {}, Goal::AtMost, 20});

    station.controller().Disconnect();
    runFor(500);
    return 0;
}
