#include "history/HistoryListing.h"

#include <cinttypes>
#include <ctime>
#include <filesystem>

namespace chatterly {
namespace {

std::string isoTime(int64_t timeMs) {
    const auto seconds =
        static_cast<std::time_t>(timeMs >= 0 ? timeMs / 1000 : (timeMs - 999) / 1000);
    const auto ms = static_cast<int>(timeMs - static_cast<int64_t>(seconds) * 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", ms);
    return text;
}

// A tab or line break in a station's text would break the line's columns.
std::string oneField(std::string text) {
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

}  // namespace

std::string HistoryListing::line(const HistoryEntry& entry, const std::string& path) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(entry.playingMs) / 1000.0);
    return isoTime(entry.timeMs) + '\t' + (entry.direction == Direction::In ? "in" : "out") + '\t' +
           oneField(entry.alias.empty() ? entry.address : entry.alias) + '\t' + seconds + '\t' +
           (entry.played ? "played" : "unplayed") + '\t' + oneField(path);
}

int HistoryListing::print(const std::string& directory, std::FILE* out, std::FILE* err) {
    HistoryStore::Options options;
    options.directory = directory;
    options.readOnly = true;
    const HistoryStore store(options);
    if (!store.usable()) {
        std::fprintf(err, "chatterly: no message history in %s\n", directory.c_str());
        return 1;
    }
    if (!store.error().empty()) {
        std::fprintf(err, "chatterly: %s\n", store.error().c_str());
    }
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::absolute(directory, ec);
    for (const HistoryEntry& entry : store.newestFirst()) {
        const std::string path = ec ? store.pathOf(entry) : (base / entry.fileName).string();
        std::fprintf(out, "%s\n", line(entry, path).c_str());
    }
    return std::fflush(out) == 0 ? 0 : 1;
}

}  // namespace chatterly
