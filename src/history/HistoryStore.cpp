#include "history/HistoryStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "framework/streams/FileError.h"
#include "framework/streams/FileStream.h"
#include "history/HistoryFileName.h"
#include "history/HistoryIndex.h"
#include "history/HistoryOpening.h"

namespace chatterly {

namespace {

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

HistoryStore::HistoryStore(Options options) : options_(std::move(options)) {
    HistoryOpening opening(options_);
    index_ = opening.open(nowMs());
    error_ = opening.error();
    readOnly_ = options_.readOnly || (index_ && !index_->writable());
}

HistoryStore::~HistoryStore() = default;

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
    for (unsigned tries = 0; tries < HistoryFileName::kCounterEnd; ++tries) {
        counter_ = HistoryFileName::nextCounter(counter_);
        std::string name = HistoryFileName::make(timeMs, counter_, direction);
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
        if (!HistoryFileName::canCarry(entry.timeMs)) {
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
        if (HistoryFileName::isPlain(name)) {
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
    if (!found || !HistoryFileName::isPlain(found->fileName)) {
        return {};
    }
    try {
        FileStream file(pathOf(found->fileName), FileStream::Mode::Read);
        return file.readAll(HistoryOpening::kImageLimit);
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
