// Loading and saving a station memory of 100 000 stations, against reading
// and writing the same number of bytes raw: 4096-byte reads and writes of the
// file, the raw write also replacing the file as the save does (new file,
// fsync, rename), so the ratio shows the cost of the encodings and the maps.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "memory/StationMemory.h"

using namespace chatterly;

namespace {

constexpr int kStations = 100000;
constexpr int kRounds = 5;
constexpr size_t kBlock = 4096;

template <typename Run>
double bestMs(Run run) {
    double best = 1e300;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

[[noreturn]] void die(const char* what) {
    std::perror(what);
    std::exit(1);
}

std::vector<char> readRaw(const char* name) {
    std::vector<char> data;
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        die("open");
    }
    char block[kBlock];
    for (;;) {
        const ssize_t r = ::read(fd, block, sizeof block);
        if (r < 0) {
            die("read");
        }
        if (r == 0) {
            break;
        }
        data.insert(data.end(), block, block + r);
    }
    ::close(fd);
    return data;
}

void writeRaw(const std::vector<char>& data, const char* name) {
    const std::string temporary = std::string(name) + ".raw";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        die("open");
    }
    for (size_t at = 0; at < data.size(); at += kBlock) {
        const size_t n = std::min(kBlock, data.size() - at);
        if (::write(fd, data.data() + at, n) != static_cast<ssize_t>(n)) {
            die("write");
        }
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temporary.c_str(), name) != 0) {
        die("fsync/close/rename");
    }
}

}  // namespace

int main() {
    std::string pattern = (std::filesystem::temp_directory_path() / "memory-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        die("mkdtemp");
    }
    std::filesystem::current_path(pattern);

    // Half the stations with an alias, as the memory dialog leaves them.
    CStringArray entries;
    for (int i = 0; i < kStations; ++i) {
        std::string address = "10." + std::to_string(i >> 16) + "." +
                              std::to_string((i >> 8) & 0xFF) + "." + std::to_string(i & 0xFF);
        entries.Add(i % 2 ? address : address + " == station" + std::to_string(i));
    }
    StationMemory memory;
    memory.rebuildFromEntries(entries);

    const double saveMs = bestMs([&] { memory.SaveMemory(); });
    const std::vector<char> bytes = readRaw(StationMemory::kFileName);
    const double rawWriteMs = bestMs([&] { writeRaw(bytes, StationMemory::kFileName); });
    memory.SaveMemory();

    size_t loaded = 0;
    const double loadMs = bestMs([&] {
        StationMemory fresh;
        const auto texts = fresh.LoadMemory();
        loaded = texts ? texts->size() : 0;
    });
    size_t rawBytes = 0;
    const double rawReadMs = bestMs([&] { rawBytes = readRaw(StationMemory::kFileName).size(); });
    if (loaded != static_cast<size_t>(kStations) || rawBytes != bytes.size()) {
        std::fprintf(stderr, "memory lost: %zu stations, %zu bytes\n", loaded, rawBytes);
        return 1;
    }

    std::printf("%d stations, %zu bytes, best of %d\n", kStations, bytes.size(), kRounds);
    std::printf("save %8.2f ms, raw write %8.2f ms, ratio %6.2f\n", saveMs, rawWriteMs,
                saveMs / rawWriteMs);
    std::printf("load %8.2f ms, raw read  %8.2f ms, ratio %6.2f\n", loadMs, rawReadMs,
                loadMs / rawReadMs);

    std::filesystem::current_path("/");
    std::filesystem::remove_all(pattern);
    return 0;
}
