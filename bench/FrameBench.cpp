// Voice message frames through two archives over a loopback TCP connection,
// against raw send/recv loops moving the same bytes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "framework/streams/CArchive.h"
#include "framework/streams/FileError.h"
#include "framework/streams/FileStream.h"
#include "net/VoiceMessageFrame.h"

using namespace chatterly;

namespace {

void connectedPair(int& a, int& b) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
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
    a = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    b = ::accept(listener, nullptr, nullptr);
    ::close(listener);
}

double framesMBps(const std::vector<uint8_t>& data, int reps) {
    int a, b;
    connectedPair(a, b);
    const auto start = std::chrono::steady_clock::now();
    std::thread reader([&] {
        FileStream in(b);
        CArchive ar(in, CArchive::Mode::Load);
        for (int i = 0; i < reps; ++i) {
            auto f = VoiceMessageFrame::read(ar);
            if (!f || f->size() != data.size()) {
                std::fprintf(stderr, "frame lost\n");
                std::exit(1);
            }
        }
    });
    {
        FileStream out(a);
        CArchive ar(out, CArchive::Mode::Store);
        for (int i = 0; i < reps; ++i) {
            VoiceMessageFrame::write(ar, data.data(), static_cast<uint32_t>(data.size()));
        }
    }
    reader.join();
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(a);
    ::close(b);
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
    FileStream out(a);
    const uint8_t header[8] = {};
    for (int i = 0; i < reps; ++i) {
        out.write(header, sizeof header);
        out.write(data.data(), data.size());
    }
    reader.join();
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(a);
    ::close(b);
    return static_cast<double>(data.size()) * reps / s / 1e6;
}

}  // namespace

int main() {
    struct Run {
        size_t size;
        int reps;
    };
    for (const Run run : {Run{1u << 20, 64}, Run{64u << 20, 4}}) {
        const std::vector<uint8_t> data(run.size, 0x5A);
        const double frames = framesMBps(data, run.reps);
        const double raw = rawMBps(data, run.reps);
        std::printf("%3zu MiB x %2d: frames %8.1f MB/s, raw %8.1f MB/s, ratio %.2f\n",
                    run.size >> 20, run.reps, frames, raw, frames / raw);
    }
    return 0;
}
