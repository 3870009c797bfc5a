// Peak resident memory that a station adds while it receives and plays a
// voice message of 16 MiB and of 64 MiB, divided by the message's size. A
// caller on loopback sends each message as one frame in a call of its own to
// a real station (offscreen window, the sound server of tools/bench.sh); the
// message plays for a second and is then stopped, since what it holds does
// not grow while it plays on. The peak is read from VmHWM after the kernel's
// mark was reset (clear_refs) with the message's bytes already made.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BenchApp.h"
#include "BenchReport.h"
#include "BenchStation.h"
#include "app/Station.h"
#include "audio/Playback.h"
#include "control/CallController.h"
#include "framework/threads/WindowRequests.h"
#include "framework/widgets/MessageBox.h"

using namespace chatterly;
using bench::Figure;
using bench::Goal;
using bench::spin;
using Clock = std::chrono::steady_clock;

namespace {

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM").
size_t statusBytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, n, field) == 0 && line[n] == ':') {
            return std::stoul(line.substr(n + 1)) * 1024;
        }
    }
    return 0;
}

void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A frame whose Data is a WAV file of size bytes in all: 16-bit mono at
// 22 050 Hz, silence.
std::vector<uint8_t> messageFrame(uint32_t size) {
    std::vector<uint8_t> frame(8 + size, 0);
    auto u32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            frame[at + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    };
    auto u16 = [&](size_t at, uint16_t v) {
        frame[at] = static_cast<uint8_t>(v);
        frame[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    u32(4, size);
    uint8_t* wav = frame.data() + 8;
    std::memcpy(wav, "RIFF", 4);
    u32(8 + 4, size - 8);
    std::memcpy(wav + 8, "WAVEfmt ", 8);
    u32(8 + 16, 16);
    u16(8 + 20, 1);
    u16(8 + 22, 1);
    u32(8 + 24, 22050);
    u32(8 + 28, 44100);
    u16(8 + 32, 2);
    u16(8 + 34, 16);
    std::memcpy(wav + 36, "data", 4);
    u32(8 + 40, size - 44);
    return frame;
}

int connectTo(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    return fd;
}

// One call that carries one message; returns the peak added, in bytes.
double peakAdded(Station& station, uint32_t size) {
    const std::vector<uint8_t> frame = messageFrame(size);
    const int caller = connectTo(station.listeningPort());
    if (!spin([&] { return station.controller().incomingCall(); }, std::chrono::seconds(20))) {
        std::fprintf(stderr, "the call did not stand\n");
        std::exit(1);
    }
    const size_t before = statusBytes("VmRSS");
    resetPeak();
    const auto sent = Clock::now();
    std::atomic<bool> stopped{false};
    std::thread sender([&] {
        for (size_t at = 0; at < frame.size();) {
            const ssize_t w = ::send(caller, frame.data() + at, frame.size() - at, MSG_NOSIGNAL);
            if (w <= 0) {
                std::exit(1);
            }
            at += static_cast<size_t>(w);
        }
        // Let it play for a second, then stop it.
        while (!Playback::lastMessageStart() || *Playback::lastMessageStart() < sent) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        Playback::stopMessages();
        stopped = true;
    });
    // This loop runs again only once the playback has returned.
    if (!spin([&] { return stopped.load(); }, std::chrono::seconds(120))) {
        std::fprintf(stderr, "the message did not play\n");
        std::exit(1);
    }
    spin([] { return false; }, std::chrono::milliseconds(100));
    sender.join();
    const size_t peak = statusBytes("VmHWM");
    ::close(caller);
    spin([&] { return !station.controller().incomingCall(); }, std::chrono::seconds(20));
    return static_cast<double>(peak > before ? peak - before : 0);
}

}  // namespace

int main(int argc, char** argv) {
    bench::BenchApp app(argc, argv);
    const auto owned = bench::listeningStation();
    Station& station = *owned;
    for (const uint32_t mib : {16u, 64u}) {
        const uint32_t size = mib << 20;
        const double added = peakAdded(station, size);
        std::printf("%u MiB message: peak resident memory added %.1f MiB, %.3f x its size\n", mib,
                    added / (1 << 20), added / size);
        report(Figure{"memory added by a " + std::to_string(mib) + " MiB message",
                      added / (1 << 20), "MiB", static_cast<double>(mib), Goal::AtMost, 1.1, true});
    }
    return 0;
}
