#include "history/HistoryStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "framework/streams/FileError.h"
#include "framework/streams/FileStream.h"
#include "history/HistoryIndex.h"

namespace chatterly {

namespace {

constexpr const char* kIndexName = "index.sqlite";
// The largest image read back: far beyond any message, short of exhausting
// the memory on a file that grew by mistake.
constexpr uint64_t kImageLimit = 256ull << 20;
// The counter of the file names: four digits.
constexpr unsigned kCounterEnd = 10000;
// The latest time a name can carry (9999-12-31 23:59:59.999 UTC).
constexpr int64_t kLatestMs = 253402300799999;

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// "YYYYMMDD-HHMMSS" in UTC, and the milliseconds left over.
std::string stampOf(int64_t timeMs, int* millis = nullptr) {
    const time_t seconds = static_cast<time_t>(timeMs / 1000);
    std::tm t{};
    gmtime_r(&seconds, &t);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    if (millis) {
        *millis = static_cast<int>(timeMs % 1000);
    }
    return text;
}

// A message file's name: "20261209-174012-345-0001-in.wav" (UTC), which
// tells adoption the message's time and direction.
std::string messageFileName(int64_t timeMs, unsigned counter, Direction direction) {
    int millis = 0;
    const std::string stamp = stampOf(timeMs, &millis);
    char text[64];
    std::snprintf(text, sizeof text, "%s-%03d-%04u-%s.wav", stamp.c_str(), millis, counter,
                  direction == Direction::Out ? "out" : "in");
    return text;
}

// Reads count digits at text[at]; -1 when they are not all digits.
int digits(const std::string& text, size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return -1;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

struct NameParts {
    int64_t timeMs = 0;
    Direction direction = Direction::In;
};

// The time and direction in a name the station made; nothing for any other
// name (a real date and time, the exact shape, nothing more).
std::optional<NameParts> partsOf(const std::string& name) {
    // YYYYMMDD-HHMMSS-mmm-NNNN- is 25 characters; "in.wav" or "out.wav" follows.
    constexpr size_t kFixed = 25;
    NameParts parts;
    if (name.size() == kFixed + 6 && name.compare(kFixed, 6, "in.wav") == 0) {
        parts.direction = Direction::In;
    } else if (name.size() == kFixed + 7 && name.compare(kFixed, 7, "out.wav") == 0) {
        parts.direction = Direction::Out;
    } else {
        return std::nullopt;
    }
    for (const size_t dash : {8, 15, 19, 24}) {
        if (name[dash] != '-') {
            return std::nullopt;
        }
    }
    std::tm t{};
    t.tm_year = digits(name, 0, 4) - 1900;
    t.tm_mon = digits(name, 4, 2) - 1;
    t.tm_mday = digits(name, 6, 2);
    t.tm_hour = digits(name, 9, 2);
    t.tm_min = digits(name, 11, 2);
    t.tm_sec = digits(name, 13, 2);
    const int millis = digits(name, 16, 3);
    if (millis < 0 || digits(name, 20, 4) < 0 || t.tm_year < -1900) {
        return std::nullopt;
    }
    const std::tm asked = t;
    const time_t seconds = timegm(&t);
    // timegm normalises an impossible date (February 30th): refuse it.
    if (t.tm_year != asked.tm_year || t.tm_mon != asked.tm_mon || t.tm_mday != asked.tm_mday ||
        t.tm_hour != asked.tm_hour || t.tm_min != asked.tm_min || t.tm_sec != asked.tm_sec) {
        return std::nullopt;
    }
    parts.timeMs = static_cast<int64_t>(seconds) * 1000 + millis;
    return parts;
}

// A name inside the directory: an index edited by hand cannot point
// elsewhere.
bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace

HistoryStore::HistoryStore(Options options) : options_(std::move(options)) {
    try {
        if (openDirectory()) {
            openIndex();
        }
    } catch (const std::exception& e) {
        index_.reset();
        error_ = std::string("The message history cannot be opened: ") + e.what() + ".";
    }
    readOnly_ = options_.readOnly || (index_ && !index_->writable());
}

HistoryStore::~HistoryStore() = default;

bool HistoryStore::openDirectory() {
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

void HistoryStore::openIndex() {
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

void HistoryStore::replaceDamagedIndex() {
    const std::string path = pathOf(kIndexName);
    const std::string stamp = path + ".damaged-" + stampOf(nowMs());
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

void HistoryStore::mend() {
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
        const auto parts = partsOf(name);
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

std::string HistoryStore::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

bool HistoryStore::usable() const {
    std::lock_guard lock(mutex_);
    return index_ && index_->usable();
}

bool HistoryStore::readOnly() const {
    std::lock_guard lock(mutex_);
    return readOnly_;
}

std::optional<std::string> HistoryStore::newFileName(int64_t timeMs, Direction direction) {
    for (unsigned tries = 0; tries < kCounterEnd; ++tries) {
        counter_ = counter_ % (kCounterEnd - 1) + 1;
        std::string name = messageFileName(timeMs, counter_, direction);
        struct stat info {};
        if (::lstat(pathOf(name).c_str(), &info) != 0) {
            if (errno == ENOENT) {
                return name;
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool HistoryStore::writeMessageFile(const std::string& path, const void* image, size_t length) {
    bool made = false;
    try {
        FileStream file(path, FileStream::Mode::Scratch);
        made = true;
        file.write(image, length);
        if (options_.faults && !options_.faults(Step::File)) {
            throw FileError(path, ENOSPC);
        }
        file.sync();
        file.close();
        return true;
    } catch (const std::exception&) {
        if (made) {
            ::unlink(path.c_str());
        }
        return false;
    }
}

HistoryStore::KeepResult HistoryStore::keep(const MessageInfo& info, const void* image,
                                            size_t length) {
    KeepResult result;
    try {
        std::lock_guard lock(mutex_);
        if (!index_ || !index_->writable()) {
            return result;
        }
        // One call's share, made room for from that call's own played
        // messages alone before anything is written.
        const uint64_t share = options_.capBytes / 4;
        const uint64_t ofCall = index_->callBytes(info.call);
        std::vector<int64_t> ids;
        std::vector<std::string> files;
        uint64_t freed = 0;
        if (ofCall + length > share) {
            if (length > share) {
                result.kept = Kept::CallShareFull;
                return result;
            }
            const uint64_t need = ofCall + length - share;
            for (const auto& v : index_->oldest(true, info.call, need, {})) {
                ids.push_back(v.id);
                files.push_back(v.fileName);
                freed += static_cast<uint64_t>(v.bytes);
            }
            if (freed < need) {
                result.kept = Kept::CallShareFull;
                return result;
            }
        }

        HistoryEntry entry;
        entry.timeMs = info.timeMs.value_or(nowMs());
        if (entry.timeMs < 0 || entry.timeMs > kLatestMs) {
            entry.timeMs = nowMs();  // a name must carry it
        }
        entry.direction = info.direction;
        entry.address = info.address;
        entry.alias = info.alias;
        entry.playingMs = info.playingMs;
        entry.bytes = static_cast<int64_t>(length);
        entry.played = info.played || info.direction == Direction::Out;
        entry.call = info.call;
        const auto name = newFileName(entry.timeMs, entry.direction);
        if (!name || !writeMessageFile(pathOf(*name), image, length)) {
            return result;
        }
        entry.fileName = *name;
        // A row that cannot be committed leaves its synced file: the next
        // start adopts it rather than lose a message.
        if (options_.faults && !options_.faults(Step::Row)) {
            return result;
        }
        const auto id = index_->insert(entry);
        if (!id) {
            return result;
        }
        result = {Kept::Yes, *id};
        dropBeyondBounds(std::move(ids), std::move(files), freed, *id);
    } catch (const std::exception&) {
        if (result.kept != Kept::Yes) {
            return result;
        }
    }
    notifyChange();
    return result;
}

size_t HistoryStore::dropBeyondBounds(std::vector<int64_t> ids, std::vector<std::string> files,
                                      uint64_t freed, int64_t keep) {
    const uint64_t total = index_->totalBytes();
    uint64_t over = total > options_.capBytes + freed ? total - freed - options_.capBytes : 0;
    std::vector<int64_t> spared = ids;
    spared.push_back(keep);
    for (const bool played : {true, false}) {
        if (over == 0) {
            break;
        }
        for (const auto& v : index_->oldest(played, std::nullopt, over, spared)) {
            ids.push_back(v.id);
            files.push_back(v.fileName);
            over -= std::min(over, static_cast<uint64_t>(v.bytes));
        }
    }
    if (ids.empty() || !drop(ids, files)) {
        return 0;
    }
    return ids.size();
}

bool HistoryStore::drop(const std::vector<int64_t>& ids, const std::vector<std::string>& files) {
    if (!index_->removeAll(ids)) {
        return false;
    }
    // After the commit: a crash between leaves files that the next start
    // adopts, never rows without files.
    for (const auto& name : files) {
        if (isPlainName(name)) {
            ::unlink(pathOf(name).c_str());
        }
    }
    return true;
}

bool HistoryStore::markPlayed(int64_t id) {
    {
        std::lock_guard lock(mutex_);
        if (!index_ || !index_->markPlayed(id)) {
            return false;
        }
    }
    notifyChange();
    return true;
}

bool HistoryStore::remove(int64_t id) {
    {
        std::lock_guard lock(mutex_);
        if (!index_ || !index_->writable()) {
            return false;
        }
        const auto found = index_->entry(id);
        if (!found || !drop({id}, {found->fileName})) {
            return false;
        }
    }
    notifyChange();
    return true;
}

int HistoryStore::clearPlayed() {
    int count = 0;
    {
        std::lock_guard lock(mutex_);
        if (!index_ || !index_->writable()) {
            return 0;
        }
        std::vector<int64_t> ids;
        std::vector<std::string> files;
        for (const auto& v : index_->played()) {
            ids.push_back(v.id);
            files.push_back(v.fileName);
        }
        if (ids.empty() || !drop(ids, files)) {
            return 0;
        }
        count = static_cast<int>(ids.size());
    }
    notifyChange();
    return count;
}

void HistoryStore::setCap(uint64_t capBytes) {
    {
        std::lock_guard lock(mutex_);
        options_.capBytes = capBytes;
        if (!index_ || !index_->writable() || dropBeyondBounds({}, {}, 0, 0) == 0) {
            return;
        }
    }
    notifyChange();
}

std::vector<HistoryEntry> HistoryStore::newestFirst() const {
    std::lock_guard lock(mutex_);
    return index_ ? index_->newestFirst() : std::vector<HistoryEntry>{};
}

std::vector<HistoryEntry> HistoryStore::unplayedOldestFirst() const {
    std::lock_guard lock(mutex_);
    return index_ ? index_->unplayedOldestFirst() : std::vector<HistoryEntry>{};
}

std::optional<HistoryEntry> HistoryStore::entry(int64_t id) const {
    std::lock_guard lock(mutex_);
    return index_ ? index_->entry(id) : std::nullopt;
}

int HistoryStore::unplayedCount() const {
    std::lock_guard lock(mutex_);
    return index_ ? index_->unplayedCount() : 0;
}

uint64_t HistoryStore::totalBytes() const {
    std::lock_guard lock(mutex_);
    return index_ ? index_->totalBytes() : 0;
}

std::vector<uint8_t> HistoryStore::image(int64_t id) const {
    std::lock_guard lock(mutex_);
    const auto found = index_ ? index_->entry(id) : std::nullopt;
    if (!found || !isPlainName(found->fileName)) {
        return {};
    }
    try {
        FileStream file(pathOf(found->fileName), FileStream::Mode::Read);
        return file.readAll(kImageLimit);
    } catch (const std::exception&) {
        return {};
    }
}

std::string HistoryStore::pathOf(const HistoryEntry& entry) const {
    return pathOf(entry.fileName);
}

std::string HistoryStore::pathOf(const std::string& fileName) const {
    return options_.directory + "/" + fileName;
}

void HistoryStore::setOnChange(std::function<void()> onChange) {
    std::lock_guard lock(mutex_);
    onChange_ = std::move(onChange);
}

void HistoryStore::notifyChange() {
    // Outside the lock: the callback may well read the store.
    std::function<void()> onChange;
    {
        std::lock_guard lock(mutex_);
        onChange = onChange_;
    }
    if (onChange) {
        onChange();
    }
}

}  // namespace chatterly
