// Voice message frames from one station's connection to another's over
// loopback, through the real socket, socket file and archive layers: the
// sending connection on one worker thread sends each frame as a recording,
// the receiving one on another reads it whole and hands it to a station that
// plays nothing. Against raw send/recv loops that move the same bytes with a
// buffer kept across messages. Best of three runs each.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "BenchReport.h"
#include "framework/threads/ThreadLoop.h"
#include "framework/threads/WorkerLoop.h"
#include "framework/widgets/MessageBox.h"
#include "net/CConnectionSocket.h"
#include "net/CallStation.h"

using namespace chatterly;
using bench::Figure;
using bench::Goal;

namespace {

void connectedPair(int& a, int& b) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    a = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    b = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
}

// A station that counts what it is given to play and checks its size.
class CountingStation : public CallStation {
  public:
    explicit CountingStation(size_t size) : size_(size) {}
    CConnectionSocket* incomingConnection() override { return nullptr; }
    void setIncomingConnection(CConnectionSocket*) override {}
    void SetIncomingState(bool) override {}
    void PlaybackAnimation(bool) override {}
    bool PlayVoiceMessage(const void*, size_t length) override {
        if (length != size_) {
            std::fprintf(stderr, "a frame of %zu bytes instead of %zu\n", length, size_);
            std::exit(1);
        }
        ++played;
        return true;
    }
    std::string remoteText() override { return {}; }
    std::string resolveRemote(const std::string& text) override { return text; }
    void SetConnectedControls(bool) override {}
    void Disconnect() override {}

    std::atomic<int> played{0};

  private:
    size_t size_;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double connectionsMBps(const std::vector<uint8_t>& data, int reps) {
    int a, b;
    connectedPair(a, b);
    CountingStation receiving(data.size());
    std::atomic<bool> ready{false};
    std::thread reader([&] {
        auto& loop = dynamic_cast<WorkerLoop&>(ThreadLoop::current());
        CConnectionSocket connection(&receiving);
        connection.Attach(b);
        ready = true;
        ThreadLoop::Pump pump;
        pump.pass = std::chrono::milliseconds(50);
        loop.pumpUntil([&] { return receiving.played == reps; }, std::nullopt, pump);
    });
    while (!ready) {
        std::this_thread::yield();
    }
    const auto start = std::chrono::steady_clock::now();
    std::thread writer([&] {
        CountingStation sending(0);
        CConnectionSocket connection(&sending);
        connection.Attach(a);
        for (int i = 0; i < reps; ++i) {
            connection.sendRecording(data);
        }
        // Stays open until the last frame is read, as a call would.
        while (receiving.played < reps) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    reader.join();
    const double s = secondsSince(start);
    writer.join();
    return static_cast<double>(data.size()) * reps / s / 1e6;
}

double rawMBps(const std::vector<uint8_t>& data, int reps) {
    int a, b;
    connectedPair(a, b);
    const size_t total = (data.size() + 8) * reps;
    const auto start = std::chrono::steady_clock::now();
    std::thread reader([&] {
        std::vector<uint8_t> sink(data.size() + 8);
        size_t got = 0;
        while (got < total) {
            const ssize_t r = ::recv(b, sink.data(), sink.size(), 0);
            if (r <= 0) {
                std::exit(1);
            }
            got += static_cast<size_t>(r);
        }
    });
    const uint8_t header[8] = {};
    for (int i = 0; i < reps; ++i) {
        for (const auto& [bytes, n] :
             {std::pair{header, sizeof header}, std::pair{data.data(), data.size()}}) {
            for (size_t at = 0; at < n;) {
                const ssize_t w = ::send(a, bytes + at, n - at, MSG_NOSIGNAL);
                if (w <= 0) {
                    std::exit(1);
                }
                at += static_cast<size_t>(w);
            }
        }
    }
    reader.join();
    const double s = secondsSince(start);
    ::close(a);
    ::close(b);
    return static_cast<double>(data.size()) * reps / s / 1e6;
}

template <typename Run>
double best(Run run) {
    double top = 0;
    for (int i = 0; i < 3; ++i) {
        top = std::max(top, run());
    }
    return top;
}

}  // namespace

int main() {
    MessageBox::setSeam(
        [](const MessageBoxRecord& box) { std::fprintf(stderr, "box: %s\n", box.text.c_str()); });
    struct Run {
        size_t size;
        int reps;
        const char* name;
    };
    for (const Run run : {Run{1u << 20, 64, "1 MiB frames over loopback"},
                          Run{64u << 20, 6, "64 MiB frames over loopback"}}) {
        const std::vector<uint8_t> data(run.size, 0x5A);
        const double frames = best([&] { return connectionsMBps(data, run.reps); });
        const double raw = best([&] { return rawMBps(data, run.reps); });
        std::printf("%3zu MiB x %2d: connections %8.1f MB/s, raw %8.1f MB/s, ratio %.2f\n",
                    run.size >> 20, run.reps, frames, raw, frames / raw);
        report(Figure{run.name, frames, "MB/s", raw, Goal::AtLeast, 0.9, true});
    }
    return 0;
}
