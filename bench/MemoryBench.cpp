// The station memory with 100 000 stations: its load and save against raw
// reads and writes of the same bytes (4096 bytes at a time, the raw write
// also replacing the file as the save does: new file, fsync, rename), and
// the memory dialog over it: how long it takes to open, and an Add, an Edit
// and a Remove in it. Each load and raw read starts from memory handed back
// to the system, as at a station's start-up, so both pay for the pages they
// fill.

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BenchApp.h"
#include "BenchReport.h"
#include "BenchTiming.h"
#include "framework/widgets/MessageBox.h"
#include "memory/CMemoryDlg.h"
#include "memory/MemoryIds.h"
#include "memory/StationMemory.h"

using namespace chatterly;
using bench::Clock;
using bench::Figure;
using bench::Goal;
using bench::msSince;

namespace {

constexpr int kStations = 100000;
constexpr int kRounds = 5;
constexpr size_t kBlock = 4096;

// The best of kRounds: prepare() untimed, then run() timed.
double bestMs(
    const std::function<void()>& run, const std::function<void()>& prepare = [] {}) {
    return bench::bestMs(kRounds, run, prepare);
}

[[noreturn]] void die(const char* what) {
    std::perror(what);
    std::exit(1);
}

// The file's bytes, read into a buffer of their size.
size_t readRaw(const char* name, std::unique_ptr<char[]>& data) {
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        die("open");
    }
    const auto size = static_cast<size_t>(st.st_size);
    data = std::make_unique_for_overwrite<char[]>(size);
    size_t at = 0;
    for (;;) {
        const ssize_t r = ::read(fd, data.get() + at, std::min(kBlock, size - at));
        if (r < 0) {
            die("read");
        }
        if (r == 0) {
            break;
        }
        at += static_cast<size_t>(r);
    }
    ::close(fd);
    return at;
}

void writeRaw(const char* data, size_t size, const char* name) {
    const std::string temporary = std::string(name) + ".raw";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        die("open");
    }
    for (size_t at = 0; at < size; at += kBlock) {
        const size_t n = std::min(kBlock, size - at);
        if (::write(fd, data + at, n) != static_cast<ssize_t>(n)) {
            die("write");
        }
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temporary.c_str(), name) != 0) {
        die("fsync/close/rename");
    }
}

void loadAndSave(StationMemory& memory) {
    const double saveMs = bestMs([&] { memory.SaveMemory(); });
    std::unique_ptr<char[]> bytes;
    const size_t size = readRaw(StationMemory::kFileName, bytes);
    const double rawWriteMs =
        bestMs([&] { writeRaw(bytes.get(), size, StationMemory::kFileName); });
    memory.SaveMemory();

    std::unique_ptr<StationMemory> fresh;
    std::optional<std::vector<std::string>> texts;
    const double loadMs = bestMs([&] { texts = fresh->LoadMemory(); },
                                 [&] {
                                     texts.reset();
                                     fresh = std::make_unique<StationMemory>();
                                     ::malloc_trim(0);
                                 });
    std::unique_ptr<char[]> again;
    size_t rawBytes = 0;
    const double rawReadMs = bestMs([&] { rawBytes = readRaw(StationMemory::kFileName, again); },
                                    [&] {
                                        again.reset();
                                        ::malloc_trim(0);
                                    });
    if (!texts || texts->size() != static_cast<size_t>(kStations) || rawBytes != size) {
        std::fprintf(stderr, "memory lost\n");
        std::exit(1);
    }
    std::printf("%d stations, %zu bytes, best of %d\n", kStations, size, kRounds);
    std::printf("save %8.2f ms, raw write %8.2f ms\n", saveMs, rawWriteMs);
    std::printf("load %8.2f ms, raw read  %8.2f ms\n", loadMs, rawReadMs);
    report(
        Figure{"memory of 100k stations: save", saveMs, "ms", rawWriteMs, Goal::AtMost, 1.5, true});
    report(Figure{"memory of 100k stations: load", loadMs, "ms", rawReadMs, Goal::AtMost, 5, true});
}

// Runs the Qt events that are due, painting included.
void settle() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::sendPostedEvents();
}

void dialog(StationMemory& memory) {
    auto start = Clock::now();
    CMemoryDlg dialog(memory);
    dialog.InitMemoryDialog();
    dialog.show();
    settle();
    const double openMs = msSince(start);

    auto* list = qobject_cast<QListWidget*>(dialog.Control(IDC_MEMORY_LIST));
    auto* address = qobject_cast<QLineEdit*>(dialog.Control(IDC_MEMORY_ADDRESS));
    auto* alias = qobject_cast<QLineEdit*>(dialog.Control(IDC_MEMORY_ALIAS));
    auto button = [&](int id) { return qobject_cast<QPushButton*>(dialog.Control(id)); };

    // Add: the second press files the typed station at its sorted place.
    button(IDC_MEMORY_ADD)->click();
    address->setText("192.168.200.200");
    alias->setText("new station");
    start = Clock::now();
    button(IDC_MEMORY_ADD)->click();
    settle();
    const double addMs = msSince(start);

    // Edit: the first press takes the entry out, the second files it again.
    list->setCurrentRow(kStations / 2);
    start = Clock::now();
    button(IDC_MEMORY_EDIT)->click();
    settle();
    alias->setText("renamed");
    button(IDC_MEMORY_EDIT)->click();
    settle();
    const double editMs = msSince(start);

    list->setCurrentRow(kStations / 3);
    start = Clock::now();
    button(IDC_MEMORY_REMOVE)->click();
    settle();
    const double removeMs = msSince(start);
    if (list->count() != kStations) {
        std::fprintf(stderr, "the dialog lost or gained entries: %d\n", list->count());
        std::exit(1);
    }
    std::printf("memory dialog: open %.1f ms, add %.1f ms, edit %.1f ms, remove %.1f ms\n", openMs,
                addMs, editMs, removeMs);
    report(Figure{"memory dialog, 100k stations: open", openMs, "ms", {}, Goal::AtMost, 500});
    report(Figure{"memory dialog, 100k stations: add", addMs, "ms", {}, Goal::AtMost, 50});
    report(Figure{"memory dialog, 100k stations: edit", editMs, "ms", {}, Goal::AtMost, 50});
    report(Figure{"memory dialog, 100k stations: remove", removeMs, "ms", {}, Goal::AtMost, 50});
    dialog.close();
}

}  // namespace

int main(int argc, char** argv) {
    bench::BenchApp app(argc, argv);

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
    loadAndSave(memory);
    dialog(memory);

    std::filesystem::current_path("/");
    std::filesystem::remove_all(pattern);
    return 0;
}
