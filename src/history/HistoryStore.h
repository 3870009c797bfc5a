#pragma once
// The station's message history: every message it receives, and every one it
// sends, kept under "History/" in the working directory. Each message is its
// WAV image, byte for byte, in a file of its own (named by the station from
// the time and a counter, never from anything a caller sent), and one row in
// an SQLite index ("History/index.sqlite", WAL journal, synchronous=NORMAL).
//
// Files and the directory are the user's alone: the directory 0700, files
// 0600, made exclusively and never through a link. A received message's file
// is written and synced, and its row committed, before keep() returns, so a
// crash while it plays loses nothing. The index's commits survive a crash of
// the program at once, but a power cut may take back the last of them (the
// write-ahead log with synchronous=NORMAL reaches the disk at its
// checkpoints), whose synced files the next start then adopts. At open, a
// file without a row is adopted and a row without a file dropped, silently.
// A damaged index is moved aside (its name gets the time) and a new one
// begun that adopts the files there. An index of a newer schema than this
// program's is opened read-only.
//
// Bounds: the messages' bytes stay under the cap (the oldest played go
// first, then the oldest unplayed); the messages of one share (the
// station gives each remote station its own) take at most a
// quarter of the cap (its oldest played go first; when none of them is
// played, the new message is not kept), so a flooding caller never pushes
// out another station's unplayed messages.
//
// Any thread may call it; calls are serialised by one mutex. Text is UTF-8.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace chatterly {

class HistoryIndex;

enum class Direction { In, Out };

// One kept message.
struct HistoryEntry {
    int64_t id = 0;
    int64_t timeMs = 0;  // UTC, milliseconds since the epoch
    Direction direction = Direction::In;
    std::string address;  // the remote station's address (as called or as seen)
    std::string alias;    // the alias shown for it then; may be empty
    int64_t playingMs = 0;
    int64_t bytes = 0;
    bool played = false;
    std::string fileName;  // the file's name inside the history directory
    int64_t call = 0;      // the share it counts against (the station keeps one a remote
                           // station); 0 for a file adopted at open, whose is not known
};

// What the station knows of a message it is about to keep.
struct MessageInfo {
    Direction direction = Direction::In;
    std::string address;
    std::string alias;
    int64_t playingMs = 0;
    int64_t call = 0;
    bool played = false;            // sent messages are kept as played
    std::optional<int64_t> timeMs;  // now when absent
};

class HistoryStore {
  public:
    static constexpr uint64_t kDefaultCapBytes = 256ull << 20;
    static constexpr const char* kDirectory = "History";

    // Fault seam for tests: called at each step of keep(); returning false
    // makes that step fail as a full disk would (AfterFile: the file is
    // written, the row not; the process is taken to have died there when
    // the test then abandons the store).
    enum class Step { File, Row };
    using FaultSeam = std::function<bool(Step)>;

    struct Options {
        std::string directory = kDirectory;
        uint64_t capBytes = kDefaultCapBytes;
        bool readOnly = false;  // the command line's listing: no writes, no mending
        FaultSeam faults;
        // How long an adopted file plays (from its image); absent: 0.
        std::function<std::optional<int64_t>(const std::vector<uint8_t>&)> playingTimeOf;
    };

    // Opens (making the directory and index when allowed) and mends. Never
    // throws: a store that cannot be opened works as an empty one that keeps
    // nothing (error() says why).
    explicit HistoryStore(Options options);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Why the store keeps nothing, or a notice about its opening (a damaged
    // index moved aside, a newer index opened read-only); empty when fine.
    std::string error() const;
    bool usable() const;    // the index is open
    bool readOnly() const;  // asked for, or an index newer than this program

    enum class Kept { Yes, CallShareFull, Failed };
    struct KeepResult {
        Kept kept = Kept::Failed;
        int64_t id = 0;
    };
    // Writes the image to a new file, syncs it and commits its row, then
    // drops old messages beyond the bounds.
    KeepResult keep(const MessageInfo& info, const void* image, size_t length);

    // Whether there was such a message to mark (or remove) and it was done.
    bool markPlayed(int64_t id);
    bool remove(int64_t id);  // row and file
    int clearPlayed();        // every played message, rows and files; how many went
    void setCap(uint64_t capBytes);

    std::vector<HistoryEntry> newestFirst() const;
    std::vector<HistoryEntry> unplayedOldestFirst() const;  // received ones only
    std::optional<HistoryEntry> entry(int64_t id) const;
    int unplayedCount() const;  // received, unplayed
    uint64_t totalBytes() const;
    // The message's image; empty when its file cannot be read.
    std::vector<uint8_t> image(int64_t id) const;
    // The path of a message's file (directory/fileName).
    std::string pathOf(const HistoryEntry& entry) const;

    // Runs after every change (keep, mark, remove, clear), on the thread that
    // made it.
    void setOnChange(std::function<void()> onChange);

  private:
    // A free name for a new message file; none when the directory cannot be
    // looked into.
    std::optional<std::string> newFileName(int64_t timeMs, Direction direction);
    // Writes, syncs and closes a new file; a partial one is removed.
    bool writeMessageFile(const std::string& path, const void* image, size_t length);
    // Drops the given messages and then the oldest beyond the cap (played
    // first), never the message keep; how many went.
    size_t dropBeyondBounds(std::vector<int64_t> ids, std::vector<std::string> files,
                            uint64_t freed, int64_t keep);
    // Deletes the rows in one transaction, then unlinks their files.
    bool drop(const std::vector<int64_t>& ids, const std::vector<std::string>& files);
    std::string pathOf(const std::string& fileName) const;
    void notifyChange();

    Options options_;
    mutable std::mutex mutex_;
    std::unique_ptr<HistoryIndex> index_;  // null when unusable
    std::string error_;
    bool readOnly_ = false;
    unsigned counter_ = 0;  // the last file name's counter
    std::function<void()> onChange_;
};

}  // namespace chatterly
