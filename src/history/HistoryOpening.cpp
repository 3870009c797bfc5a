#include "history/HistoryOpening.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "framework/streams/FileStream.h"
#include "history/HistoryFileName.h"
#include "history/HistoryIndex.h"

namespace chatterly {

namespace {

std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace

HistoryOpening::HistoryOpening(const HistoryStore::Options& options) : options_(options) {}

HistoryOpening::~HistoryOpening() = default;

std::unique_ptr<HistoryIndex> HistoryOpening::open(int64_t nowMs) {
    nowMs_ = nowMs;
    try {
        if (openDirectory()) {
            openIndex();
        }
    } catch (const std::exception& e) {
        index_.reset();
        error_ = std::string("The message history cannot be opened: ") + e.what() + ".";
    }
    return std::move(index_);
}

bool HistoryOpening::openDirectory() {
    const std::string& dir = options_.directory;
    if (!options_.readOnly && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error_ = "The message folder " + inQuotes(dir) + " cannot be made (" +
                 std::strerror(errno) + "); messages are not kept.";
        return false;
    }
    struct stat info {};
    if (::lstat(dir.c_str(), &info) != 0) {
        error_ = "The message folder " + inQuotes(dir) + " cannot be found (" +
                 std::strerror(errno) + ").";
        return false;
    }
    if (S_ISLNK(info.st_mode)) {
        error_ = inQuotes(dir) + " is a symbolic link, not a folder; messages are not kept.";
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error_ = inQuotes(dir) + " is a file, not a folder; messages are not kept.";
        return false;
    }
    // Checked again on the open directory, so a link swapped in after the
    // look above is not taken for it.
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error_ = "The message folder " + inQuotes(dir) + " cannot be opened (" +
                 std::strerror(errno) + "); messages are not kept.";
        return false;
    }
    // A folder the user made by hand may be open to others: the messages are
    // the user's alone.
    if (!options_.readOnly && fstat(fd, &info) == 0 && (info.st_mode & 077) != 0) {
        ::fchmod(fd, 0700);
    }
    ::close(fd);
    return true;
}

void HistoryOpening::openIndex() {
    const std::string path = pathOf(kIndexName);
    index_ = std::make_unique<HistoryIndex>(path, options_.readOnly);
    switch (index_->state()) {
        case HistoryIndex::State::Open:
            break;
        case HistoryIndex::State::Newer:
            error_ =
                "The message index was written by a newer version of Chatterly; it is opened "
                "read-only and no message is kept.";
            break;
        case HistoryIndex::State::Missing:
            index_.reset();
            error_ = "There is no message index in " + inQuotes(options_.directory) + ".";
            break;
        case HistoryIndex::State::Failed:
            error_ = "The message index cannot be opened (" + index_->failure() +
                     "); messages are not kept.";
            index_.reset();
            break;
        case HistoryIndex::State::Damaged:
            index_.reset();
            if (options_.readOnly) {
                error_ = "The message index is damaged.";
                break;
            }
            replaceDamagedIndex();
            return;
    }
    if (index_ && index_->writable()) {
        mend();
    }
}

void HistoryOpening::replaceDamagedIndex() {
    const std::string path = pathOf(kIndexName);
    const std::string stamp = path + ".damaged-" + HistoryFileName::stamp(nowMs_);
    std::string aside = stamp;
    struct stat info {};
    for (int n = 2; ::lstat(aside.c_str(), &info) == 0 && n < 100; ++n) {
        aside = stamp + "-" + std::to_string(n);  // damaged twice within a second
    }
    if (::rename(path.c_str(), aside.c_str()) != 0 && errno != ENOENT) {
        error_ = "The message index is damaged and cannot be moved aside (" +
                 std::string(std::strerror(errno)) + "); messages are not kept.";
        return;
    }
    // Its journal belongs to it: beside a new index it would be replayed
    // into it.
    for (const char* suffix : {"-wal", "-shm"}) {
        if (::rename((path + suffix).c_str(), (aside + suffix).c_str()) != 0 && errno != ENOENT) {
            ::unlink((path + suffix).c_str());
        }
    }
    index_ = std::make_unique<HistoryIndex>(path, false);
    if (index_->state() != HistoryIndex::State::Open) {
        error_ = "The message index was damaged and a new one cannot be made (" +
                 index_->failure() + "); messages are not kept.";
        index_.reset();
        return;
    }
    error_ = "The message index was damaged; it was moved aside as " +
             inQuotes(std::filesystem::path(aside).filename().string()) +
             " and a new one made from the message files.";
    mend();
}

void HistoryOpening::mend() {
    // The regular files there, by name.
    std::unordered_map<std::string, uint64_t> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(options_.directory, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code statError;
        if (it->symlink_status(statError).type() == std::filesystem::file_type::regular) {
            const auto size = it->file_size(statError);
            files.emplace(it->path().filename().string(), statError ? 0 : size);
        }
    }
    if (ec) {
        return;  // without the listing, every row would look orphaned
    }
    // After a clean open the index has no failure to tell; one now means
    // the rows could not be listed.
    const auto rows = index_->newestFirst();
    if (!index_->failure().empty()) {
        return;
    }
    std::unordered_set<std::string> named;
    std::vector<int64_t> orphans;
    for (const auto& row : rows) {
        named.insert(row.fileName);
        if (!files.count(row.fileName)) {
            orphans.push_back(row.id);
        }
    }
    std::vector<HistoryEntry> adopted;
    for (const auto& [name, size] : files) {
        const auto parts = HistoryFileName::parse(name);
        if (!parts || named.count(name)) {
            continue;
        }
        HistoryEntry e;
        e.timeMs = parts->timeMs;
        e.direction = parts->direction;
        e.bytes = static_cast<int64_t>(size);
        e.played = parts->direction == Direction::Out;
        e.fileName = name;
        if (options_.playingTimeOf) {
            try {
                FileStream file(pathOf(name), FileStream::Mode::Read);
                e.playingMs = options_.playingTimeOf(file.readAll(kImageLimit)).value_or(0);
            } catch (const std::exception&) {
                e.playingMs = 0;
            }
        }
        adopted.push_back(std::move(e));
    }
    if (!orphans.empty()) {
        index_->removeAll(orphans);
    }
    if (!adopted.empty()) {
        index_->insertAll(adopted);
    }
}

std::string HistoryOpening::pathOf(const std::string& fileName) const {
    return options_.directory + "/" + fileName;
}

}  // namespace chatterly
