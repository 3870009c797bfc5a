#include "history/HistoryIndex.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

namespace chatterly {

namespace {

// A transaction waits this long for another connection's write (the
// command line's listing never writes, so only a checkpoint can hold one).
constexpr int kBusyMs = 5000;

// The schema, one step per version: kMigrations[n] takes version n to n + 1.
// A later version appends its step and raises kSchemaVersion; the steps
// already released never change.
constexpr std::array<const char*, HistoryIndex::kSchemaVersion> kMigrations = {
    // 0 -> 1: the messages. AUTOINCREMENT: an id is never given twice, so a
    // window that still shows a removed message cannot play another one.
    "CREATE TABLE messages ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " time_ms INTEGER NOT NULL,"
    " direction TEXT NOT NULL CHECK (direction IN ('in', 'out')),"
    " address TEXT NOT NULL DEFAULT '',"
    " alias TEXT NOT NULL DEFAULT '',"
    " playing_ms INTEGER NOT NULL DEFAULT 0,"
    " bytes INTEGER NOT NULL,"
    " played INTEGER NOT NULL DEFAULT 0,"
    " file_name TEXT NOT NULL UNIQUE,"
    " call INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX messages_by_time ON messages (time_ms);"
    "CREATE INDEX messages_by_played ON messages (played, time_ms);"
    "CREATE INDEX messages_by_call ON messages (call, played, time_ms);",
};

bool isDamage(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// One prepared statement. A failed bind is kept and returned by step(), so
// the callers check one result.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        code_ = sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr);
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int at, int64_t value) { keep(sqlite3_bind_int64(statement_, at, value)); }
    void bind(int at, const std::string& text) {
        if (text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
            keep(SQLITE_TOOBIG);
            return;
        }
        keep(sqlite3_bind_text(statement_, at, text.data(), static_cast<int>(text.size()),
                               SQLITE_TRANSIENT));
    }
    // SQLITE_ROW, SQLITE_DONE, or the failure (of the preparation or a bind).
    int step() { return code_ == SQLITE_OK ? sqlite3_step(statement_) : code_; }
    void reset() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }

    int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
    std::string text(int column) const {
        const auto* bytes = sqlite3_column_text(statement_, column);
        return bytes ? std::string(reinterpret_cast<const char*>(bytes),
                                   static_cast<size_t>(sqlite3_column_bytes(statement_, column)))
                     : std::string();
    }

  private:
    void keep(int code) {
        if (code_ == SQLITE_OK) {
            code_ = code;
        }
    }

    sqlite3_stmt* statement_ = nullptr;
    int code_ = SQLITE_OK;
};

// Steps a statement that returns no row and makes it ready for new
// parameters; the step's code.
int stepAndReset(Statement& s) {
    const int code = s.step();
    s.reset();
    return code;
}

// The columns every entry query selects, in HistoryEntry's order.
HistoryEntry entryOf(const Statement& row) {
    HistoryEntry e;
    e.id = row.integer(0);
    e.timeMs = row.integer(1);
    e.direction = row.text(2) == "out" ? Direction::Out : Direction::In;
    e.address = row.text(3);
    e.alias = row.text(4);
    e.playingMs = row.integer(5);
    e.bytes = row.integer(6);
    e.played = row.integer(7) != 0;
    e.fileName = row.text(8);
    e.call = row.integer(9);
    return e;
}

}  // namespace

HistoryIndex::HistoryIndex(const std::string& path, bool readOnly) : readOnly_(readOnly) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 && errno == ENOENT) {
        if (readOnly) {
            // SQLite would report it only as "cannot open".
            state_ = State::Missing;
            return;
        }
        // Made here, as SQLite would make it readable by all; its journal
        // files take its permissions. An empty file is an empty database.
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (!openAs(path,
                readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) {
        return;
    }
    // A file that is not a database shows here at the latest (the open
    // itself reads nothing).
    const auto check = textOf("PRAGMA quick_check");
    if (!check || *check != "ok") {
        if (check) {
            failure_ = *check;
            damaged_ = true;
        }
        state_ = damaged_ ? State::Damaged : State::Failed;
        return;
    }
    const auto version = textOf("PRAGMA user_version");
    if (!version) {
        state_ = damaged_ ? State::Damaged : State::Failed;
        return;
    }
    if (std::strtoll(version->c_str(), nullptr, 10) > kSchemaVersion) {
        // Not ours to change: not even its journal mode.
        if (!readOnly && !openAs(path, SQLITE_OPEN_READONLY)) {
            return;
        }
        readOnly_ = true;
        state_ = State::Newer;
        return;
    }
    if (!readOnly) {
        const auto mode = textOf("PRAGMA journal_mode = WAL");
        if (!mode || *mode != "wal" || !execute("PRAGMA synchronous = NORMAL") || !migrate()) {
            state_ = damaged_ ? State::Damaged : State::Failed;
            return;
        }
    }
    state_ = State::Open;
}

HistoryIndex::~HistoryIndex() {
    sqlite3_close_v2(db_);
}

bool HistoryIndex::openAs(const std::string& path, int flags) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    const int code = sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOFOLLOW, nullptr);
    if (code != SQLITE_OK) {
        failed(code);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        state_ = State::Failed;
        return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyMs);
    return true;
}

bool HistoryIndex::migrate() {
    const auto text = textOf("PRAGMA user_version");
    if (!text) {
        return false;
    }
    for (int version = static_cast<int>(std::strtol(text->c_str(), nullptr, 10));
         version < kSchemaVersion; ++version) {
        // The version is a constant of this program: PRAGMA takes no parameter.
        const std::string next = "PRAGMA user_version = " + std::to_string(version + 1);
        if (!transaction([&] {
                return execute(kMigrations[static_cast<size_t>(version)]) && execute(next.c_str());
            })) {
            return false;
        }
    }
    return true;
}

bool HistoryIndex::transaction(const std::function<bool()>& body) {
    if (!execute("BEGIN IMMEDIATE")) {
        return false;
    }
    if (!body() || !execute("COMMIT")) {
        rollback();
        return false;
    }
    return true;
}

bool HistoryIndex::execute(const char* sql) {
    const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    return code == SQLITE_OK || failed(code);
}

void HistoryIndex::rollback() {
    // A failed COMMIT may have ended the transaction already; the failure
    // that led here is the one to keep.
    if (!sqlite3_get_autocommit(db_)) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

std::optional<std::string> HistoryIndex::textOf(const char* sql) {
    Statement s(db_, sql);
    const int code = s.step();
    if (code == SQLITE_ROW) {
        return s.text(0);
    }
    failed(code == SQLITE_DONE ? SQLITE_ERROR : code);
    return std::nullopt;
}

bool HistoryIndex::failed(int code) {
    if (isDamage(code)) {
        damaged_ = true;
    }
    const char* message = db_ ? sqlite3_errmsg(db_) : nullptr;
    failure_ = message && sqlite3_errcode(db_) != SQLITE_OK ? message : sqlite3_errstr(code);
    return false;
}

namespace {

// The entries' columns, in the order entryOf reads them; a query of entries
// adds its conditions and order.
constexpr std::string_view kSelectEntries =
    "SELECT id, time_ms, direction, address, alias, playing_ms, bytes, played, file_name, call "
    "FROM messages ";

// Runs a query of entries: kSelectEntries, then what follows.
template <typename Bind>
std::vector<HistoryEntry> entriesOf(sqlite3* db, std::string_view following, Bind bind,
                                    const std::function<void(int)>& onFailure) {
    std::vector<HistoryEntry> out;
    const std::string sql = std::string(kSelectEntries) + std::string(following);
    Statement s(db, sql.c_str());
    bind(s);
    int code;
    while ((code = s.step()) == SQLITE_ROW) {
        out.push_back(entryOf(s));
    }
    if (code != SQLITE_DONE) {
        onFailure(code);
        out.clear();
    }
    return out;
}

}  // namespace

std::vector<HistoryEntry> HistoryIndex::newestFirst() {
    if (!usable()) {
        return {};
    }
    return entriesOf(
        db_, "ORDER BY time_ms DESC, id DESC", [](Statement&) {},
        [this](int code) { failed(code); });
}

std::vector<HistoryEntry> HistoryIndex::unplayedOldestFirst() {
    if (!usable()) {
        return {};
    }
    return entriesOf(
        db_, "WHERE played = 0 AND direction = 'in' ORDER BY time_ms, id", [](Statement&) {},
        [this](int code) { failed(code); });
}

std::optional<HistoryEntry> HistoryIndex::entry(int64_t id) {
    if (!usable()) {
        return std::nullopt;
    }
    auto found = entriesOf(
        db_, "WHERE id = ?1", [id](Statement& s) { s.bind(1, id); },
        [this](int code) { failed(code); });
    if (found.empty()) {
        return std::nullopt;
    }
    return std::move(found.front());
}

int HistoryIndex::unplayedCount() {
    if (!usable()) {
        return 0;
    }
    Statement s(db_, "SELECT count(*) FROM messages WHERE played = 0 AND direction = 'in'");
    const int code = s.step();
    return code == SQLITE_ROW ? static_cast<int>(s.integer(0)) : (failed(code), 0);
}

uint64_t HistoryIndex::totalBytes() {
    if (!usable()) {
        return 0;
    }
    Statement s(db_, "SELECT coalesce(sum(bytes), 0) FROM messages");
    const int code = s.step();
    return code == SQLITE_ROW ? static_cast<uint64_t>(s.integer(0)) : (failed(code), 0);
}

uint64_t HistoryIndex::callBytes(int64_t call) {
    if (!usable()) {
        return 0;
    }
    Statement s(db_, "SELECT coalesce(sum(bytes), 0) FROM messages WHERE call = ?1");
    s.bind(1, call);
    const int code = s.step();
    return code == SQLITE_ROW ? static_cast<uint64_t>(s.integer(0)) : (failed(code), 0);
}

std::vector<HistoryIndex::Victim> HistoryIndex::oldest(bool played, std::optional<int64_t> call,
                                                       uint64_t atLeast,
                                                       const std::vector<int64_t>& except) {
    std::vector<Victim> out;
    if (!usable() || atLeast == 0) {
        return out;
    }
    // Stepping stops as soon as enough is found: the work grows with what
    // is dropped, not with the history's size.
    Statement s(db_, call ? "SELECT id, bytes, file_name FROM messages"
                            " WHERE call = ?1 AND played = ?2 ORDER BY time_ms, id"
                          : "SELECT id, bytes, file_name FROM messages"
                            " WHERE played = ?2 ORDER BY time_ms, id");
    if (call) {
        s.bind(1, *call);
    }
    s.bind(2, played ? 1 : 0);
    uint64_t found = 0;
    int code = SQLITE_DONE;
    while (found < atLeast && (code = s.step()) == SQLITE_ROW) {
        if (std::find(except.begin(), except.end(), s.integer(0)) != except.end()) {
            continue;
        }
        out.push_back({s.integer(0), s.integer(1), s.text(2)});
        found += static_cast<uint64_t>(std::max<int64_t>(0, out.back().bytes));
    }
    if (code != SQLITE_DONE && code != SQLITE_ROW) {
        failed(code);
        out.clear();
    }
    return out;
}

std::vector<HistoryIndex::Victim> HistoryIndex::played() {
    std::vector<Victim> out;
    if (!usable()) {
        return out;
    }
    Statement s(db_, "SELECT id, bytes, file_name FROM messages WHERE played = 1");
    int code;
    while ((code = s.step()) == SQLITE_ROW) {
        out.push_back({s.integer(0), s.integer(1), s.text(2)});
    }
    if (code != SQLITE_DONE) {
        failed(code);
        out.clear();
    }
    return out;
}

namespace {

// The INSERT's parameters from an entry (the id is the index's to give).
void bindEntry(Statement& s, const HistoryEntry& e) {
    s.bind(1, e.timeMs);
    s.bind(2, std::string(e.direction == Direction::Out ? "out" : "in"));
    s.bind(3, e.address);
    s.bind(4, e.alias);
    s.bind(5, e.playingMs);
    s.bind(6, e.bytes);
    s.bind(7, e.played ? 1 : 0);
    s.bind(8, e.fileName);
    s.bind(9, e.call);
}

constexpr const char* kInsert =
    "INSERT INTO messages (time_ms, direction, address, alias, playing_ms, bytes, played,"
    " file_name, call) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)";

constexpr const char* kAdopt =
    "INSERT OR IGNORE INTO messages (time_ms, direction, address, alias, playing_ms, bytes,"
    " played, file_name, call) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)";

}  // namespace

std::optional<int64_t> HistoryIndex::insert(const HistoryEntry& entry) {
    if (!writable()) {
        return std::nullopt;
    }
    Statement s(db_, kInsert);
    bindEntry(s, entry);
    const int code = s.step();
    if (code != SQLITE_DONE) {
        failed(code);
        return std::nullopt;
    }
    return sqlite3_last_insert_rowid(db_);
}

bool HistoryIndex::insertAll(const std::vector<HistoryEntry>& entries) {
    return writable() && transaction([&] {
               Statement s(db_, kAdopt);
               return std::all_of(entries.begin(), entries.end(), [&](const HistoryEntry& e) {
                   bindEntry(s, e);
                   const int code = stepAndReset(s);
                   return code == SQLITE_DONE || failed(code);
               });
           });
}

bool HistoryIndex::markPlayed(int64_t id) {
    if (!writable()) {
        return false;
    }
    Statement s(db_, "UPDATE messages SET played = 1 WHERE id = ?1");
    s.bind(1, id);
    const int code = s.step();
    return code == SQLITE_DONE ? sqlite3_changes(db_) > 0 : failed(code);
}

bool HistoryIndex::removeAll(const std::vector<int64_t>& ids) {
    return writable() && transaction([&] {
               Statement s(db_, "DELETE FROM messages WHERE id = ?1");
               return std::all_of(ids.begin(), ids.end(), [&](int64_t id) {
                   s.bind(1, id);
                   const int code = stepAndReset(s);
                   return code == SQLITE_DONE || failed(code);
               });
           });
}

}  // namespace chatterly
