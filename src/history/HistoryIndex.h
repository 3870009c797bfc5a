#pragma once
// The SQLite index of the message history: one row per kept message in the
// table "messages" of "History/index.sqlite". This is the only place where
// SQL is written; every value goes in through a bound parameter of a
// prepared statement. The store (HistoryStore) owns one and serialises the
// calls; the index knows nothing of the message files.
//
// The journal is a write-ahead log with synchronous=NORMAL: a commit survives
// a crash of the program at once, while a power cut may take back the last
// commits before the log's next checkpoint (never the index's consistency),
// which the store's mending at the next start makes good from the files.
//
// The schema's version is PRAGMA user_version: 0 is a new file, which the
// first migration step makes version 1; each later version adds one step, so
// an index migrates forward one version at a time. An index of a version
// newer than this program's is opened read-only and not touched.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryStore.h"

struct sqlite3;

namespace chatterly {

class HistoryIndex {
  public:
    static constexpr int kSchemaVersion = 1;

    enum class State {
        Open,     // usable, at this program's schema (or read-only as asked)
        Newer,    // usable read-only: a schema newer than this program's
        Missing,  // read-only was asked and there is no index file
        Damaged,  // SQLite found the file corrupt or not a database
        Failed,   // cannot be opened or made (no access, a full disk...)
    };

    // A message that may be dropped: what dropping it needs.
    struct Victim {
        int64_t id = 0;
        int64_t bytes = 0;
        std::string fileName;
    };

    // Opens the index at path, never through a symbolic link. Writable: made
    // when missing, switched to the write-ahead log, checked (quick_check)
    // and migrated to this program's schema. Read-only: opened as it is.
    HistoryIndex(const std::string& path, bool readOnly);
    ~HistoryIndex();
    HistoryIndex(const HistoryIndex&) = delete;
    HistoryIndex& operator=(const HistoryIndex&) = delete;

    State state() const { return state_; }
    bool usable() const { return state_ == State::Open || state_ == State::Newer; }
    bool writable() const { return state_ == State::Open && !readOnly_; }
    // SQLite's words for the last failure (empty when none).
    const std::string& failure() const { return failure_; }

    std::vector<HistoryEntry> newestFirst();
    std::vector<HistoryEntry> unplayedOldestFirst();  // received ones only
    std::optional<HistoryEntry> entry(int64_t id);
    int unplayedCount();
    uint64_t totalBytes();
    uint64_t callBytes(int64_t call);

    // The oldest messages (by time, then id) that are played or not, of one
    // call when call is given, leaving out those in except, until their
    // bytes reach atLeast (all of them when they never do).
    std::vector<Victim> oldest(bool played, std::optional<int64_t> call, uint64_t atLeast,
                               const std::vector<int64_t>& except);
    // Every played message.
    std::vector<Victim> played();

    // Adds one row in its own transaction; its id, or nothing on failure.
    std::optional<int64_t> insert(const HistoryEntry& entry);
    // Adds the rows in one transaction, leaving out those whose file name is
    // there already; false (and none added) on failure.
    bool insertAll(const std::vector<HistoryEntry>& entries);
    // Whether a row was there to mark.
    bool markPlayed(int64_t id);
    // Deletes the rows in one transaction; false (and none deleted) on
    // failure.
    bool removeAll(const std::vector<int64_t>& ids);

  private:
    // (Re)opens the connection with SQLite's open flags; false when it fails.
    bool openAs(const std::string& path, int flags);
    // Takes the schema from its user_version to kSchemaVersion, a step and a
    // transaction per version.
    bool migrate();
    // Runs statements without parameters (pragmas, the schema).
    bool execute(const char* sql);
    void rollback();  // of the open transaction, if any
    // Runs body in one transaction, rolled back when body or the commit fails.
    bool transaction(const std::function<bool()>& body);
    // The first column of the first row of a statement without parameters.
    std::optional<std::string> textOf(const char* sql);
    bool failed(int code);  // notes a failure: always false, to return it

    sqlite3* db_ = nullptr;
    State state_ = State::Failed;
    bool readOnly_ = false;
    bool damaged_ = false;  // SQLite found the file corrupt or not a database
    std::string failure_;
};

}  // namespace chatterly
