// The message history store on real files in a scratch working directory and
// the real SQLite: what keep() leaves on the disk, the bounds, the mending at
// start after each crash point, a damaged or newer index, failing writes, a
// "History" that is not a folder, and a read-only listing beside the station.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "history/HistoryStore.h"
#include "support/TestSupport.h"

namespace chatterly {
namespace {

using test::pattern;
using test::ScratchDirectory;
using Bytes = std::vector<uint8_t>;
using Kept = HistoryStore::Kept;
namespace fs = std::filesystem;

constexpr const char* kIndex = "History/index.sqlite";
constexpr int64_t kDecember9 = 1796838012345;  // 2026-12-09 17:40:12.345 UTC

MessageInfo message(Direction direction, int64_t call, int64_t timeMs, bool played = false) {
    MessageInfo info;
    info.direction = direction;
    info.address = "10.0.0." + std::to_string(call);
    info.alias = call == 2 ? "hall" : "";
    info.playingMs = 1500;
    info.call = call;
    info.played = played;
    info.timeMs = timeMs;
    return info;
}

HistoryStore::KeepResult keep(HistoryStore& store, const MessageInfo& info, const Bytes& image) {
    return store.keep(info, image.data(), image.size());
}

HistoryStore::Options options() {
    return HistoryStore::Options{};
}

// The names in History/ that are not the index's.
std::vector<std::string> messageFiles() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator("History")) {
        const auto name = e.path().filename().string();
        if (name.rfind("index.sqlite", 0) != 0) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> rowFiles(const HistoryStore& store) {
    std::vector<std::string> names;
    for (const auto& e : store.newestFirst()) {
        names.push_back(e.fileName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

unsigned modeOf(const std::string& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// A PRAGMA's value through a connection of the test's own.
std::string pragma(const std::string& statement) {
    sqlite3* db = nullptr;
    sqlite3_open(kIndex, &db);
    std::string value;
    sqlite3_exec(
        db, statement.c_str(),
        [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) = values[0] ? values[0] : "";
            return 0;
        },
        &value, nullptr);
    sqlite3_close(db);
    return value;
}

TEST(HistoryStoreKeep, ReceivedAndSentAreKeptByteForByteForTheUserAlone) {
    ScratchDirectory dir;
    fs::create_directory("History");
    chmod("History", 0755);  // made by hand: the store closes it to others
    HistoryStore store(options());
    ASSERT_TRUE(store.usable()) << store.error();
    EXPECT_EQ(store.error(), "");
    int changes = 0;
    store.setOnChange([&] {
        ++changes;
        store.newestFirst();  // called outside the lock: no deadlock
    });

    struct Case {
        MessageInfo info;
        Bytes image;
        const char* fileName;
        bool played;
    };
    const std::vector<Case> cases = {
        {message(Direction::In, 2, kDecember9), pattern(5000, 1), "20261209-174012-345-0001-in.wav",
         false},
        {message(Direction::Out, 3, kDecember9 + 61000), pattern(3000, 2),
         "20261209-174113-345-0002-out.wav", true},  // a sent message is kept as played
    };
    std::vector<int64_t> ids;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileName);
        const auto kept = keep(store, c.info, c.image);
        ASSERT_EQ(kept.kept, Kept::Yes);
        ids.push_back(kept.id);
        const auto e = store.entry(kept.id);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->fileName, c.fileName);
        EXPECT_EQ(e->timeMs, *c.info.timeMs);
        EXPECT_EQ(e->direction, c.info.direction);
        EXPECT_EQ(e->address, c.info.address);
        EXPECT_EQ(e->alias, c.info.alias);
        EXPECT_EQ(e->playingMs, 1500);
        EXPECT_EQ(e->bytes, static_cast<int64_t>(c.image.size()));
        EXPECT_EQ(e->played, c.played);
        EXPECT_EQ(e->call, c.info.call);
        EXPECT_EQ(store.pathOf(*e), std::string("History/") + c.fileName);
        EXPECT_EQ(test::fileBytes(store.pathOf(*e)), c.image);
        EXPECT_EQ(modeOf(store.pathOf(*e)), 0600u);
        EXPECT_EQ(store.image(kept.id), c.image);
    }
    EXPECT_EQ(modeOf("History"), 0700u);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        EXPECT_EQ(modeOf(kIndex + std::string(suffix)), 0600u) << suffix;
    }
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(store.totalBytes(), 8000u);
    EXPECT_EQ(store.unplayedCount(), 1);
    ASSERT_EQ(store.unplayedOldestFirst().size(), 1u);  // received ones only
    EXPECT_EQ(store.unplayedOldestFirst()[0].id, ids[0]);
    const auto listed = store.newestFirst();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].id, ids[1]);
    EXPECT_EQ(pragma("PRAGMA user_version"), "1");
    EXPECT_EQ(pragma("PRAGMA journal_mode"), "wal");

    // Marking, removing and clearing take rows and files together.
    EXPECT_TRUE(store.markPlayed(ids[0]));
    EXPECT_EQ(store.unplayedCount(), 0);
    EXPECT_TRUE(store.remove(ids[1]));
    EXPECT_FALSE(store.remove(ids[1]));
    EXPECT_EQ(messageFiles(), std::vector<std::string>{cases[0].fileName});
    EXPECT_TRUE(store.image(ids[1]).empty());
    {
        HistoryStore again(options());  // what was committed is there for the next start
        EXPECT_EQ(rowFiles(again), std::vector<std::string>{cases[0].fileName});
        EXPECT_TRUE(again.entry(ids[0])->played);
    }
    EXPECT_EQ(store.clearPlayed(), 1);
    EXPECT_EQ(messageFiles(), std::vector<std::string>{});
    EXPECT_TRUE(store.newestFirst().empty());
    EXPECT_EQ(changes, 5);
}

TEST(HistoryStoreBounds, PlayedGoFirstAndAFloodingCallNeverPushesOutAnotherCallsUnplayed) {
    struct Message {
        int64_t call;
        size_t bytes;
        bool played;
        Kept expected = Kept::Yes;
    };
    struct Case {
        const char* name;
        std::vector<Message> messages;  // kept one after the other, a second apart
        std::vector<size_t> remaining;  // which of them stay
    };
    // The cap is 1000 bytes: one call may hold 250.
    const std::vector<Case> cases = {
        {"the oldest played goes before older unplayed ones",
         {{1, 200, false},
          {2, 200, true},
          {3, 200, false},
          {4, 200, true},
          {5, 200, false},
          {6, 200, false}},
         {0, 2, 3, 4, 5}},
        {"with nothing played the oldest unplayed goes",
         {{1, 200, false},
          {2, 200, false},
          {3, 200, false},
          {4, 200, false},
          {5, 200, false},
          {6, 200, false}},
         {1, 2, 3, 4, 5}},
        {"a call over its share gives up its own oldest played, then nothing more",
         {{1, 200, false},
          {3, 100, true},
          {2, 100, true},
          {2, 100, false},
          {2, 100, false},
          {2, 100, false, Kept::CallShareFull}},
         {0, 1, 3, 4}},
        {"a message larger than a call's share is not kept",
         {{1, 100, false}, {2, 251, false, Kept::CallShareFull}},
         {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory dir;
        auto o = options();
        o.capBytes = 1000;
        HistoryStore store(o);
        std::vector<std::string> names;
        for (size_t i = 0; i < c.messages.size(); ++i) {
            const auto& m = c.messages[i];
            const auto before = messageFiles();
            const auto kept =
                keep(store, message(Direction::In, m.call, kDecember9 + 1000 * i, m.played),
                     pattern(m.bytes, static_cast<uint8_t>(i)));
            ASSERT_EQ(kept.kept, m.expected) << "message " << i;
            names.push_back(kept.kept == Kept::Yes ? store.entry(kept.id)->fileName : "");
            if (kept.kept != Kept::Yes) {
                EXPECT_EQ(messageFiles(), before);  // nothing written
            }
            EXPECT_LE(store.totalBytes(), 1000u);
        }
        std::vector<std::string> expected;
        for (const size_t i : c.remaining) {
            expected.push_back(names[i]);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(rowFiles(store), expected);
        EXPECT_EQ(messageFiles(), expected);
    }
}

TEST(HistoryStoreBounds, ALowerCapDropsPlayedFirstAtOnce) {
    ScratchDirectory dir;
    HistoryStore store(options());
    const auto unplayed = keep(store, message(Direction::In, 1, kDecember9), pattern(400));
    keep(store, message(Direction::Out, 2, kDecember9 + 1000, true), pattern(400));
    const auto newest = keep(store, message(Direction::In, 3, kDecember9 + 2000), pattern(400));
    int changes = 0;
    store.setOnChange([&] { ++changes; });
    store.setCap(900);
    EXPECT_EQ(rowFiles(store), (std::vector<std::string>{store.entry(unplayed.id)->fileName,
                                                         store.entry(newest.id)->fileName}));
    store.setCap(500);
    EXPECT_EQ(rowFiles(store), std::vector<std::string>{store.entry(newest.id)->fileName});
    EXPECT_EQ(messageFiles(), rowFiles(store));
    EXPECT_EQ(changes, 2);
}

TEST(HistoryStoreMending, EachCrashPointIsMadeGoodAtTheNextStart) {
    struct Expected {
        std::string fileName;
        Direction direction;
        int64_t timeMs;
        bool played;
        bool adopted;  // from its name and image alone
    };
    struct Case {
        const char* name;
        std::function<void(HistoryStore::Options&)> crash;
        std::vector<Expected> rows;
    };
    const Bytes image = pattern(700);
    const std::vector<Case> cases = {
        {"died between a message's file and its row: the file is adopted",
         [&](HistoryStore::Options& o) {
             o.faults = [](HistoryStore::Step step) { return step != HistoryStore::Step::Row; };
             HistoryStore store(o);
             EXPECT_EQ(keep(store, message(Direction::In, 2, kDecember9), image).kept,
                       Kept::Failed);
             EXPECT_EQ(keep(store, message(Direction::Out, 2, kDecember9 + 1, true), image).kept,
                       Kept::Failed);
             EXPECT_TRUE(store.newestFirst().empty());
         },
         {{"20261209-174012-346-0002-out.wav", Direction::Out, kDecember9 + 1, true, true},
          {"20261209-174012-345-0001-in.wav", Direction::In, kDecember9, false, true}}},
        {"a message's file went while its row stayed: the row is dropped",
         [&](HistoryStore::Options& o) {
             HistoryStore store(o);
             keep(store, message(Direction::In, 2, kDecember9), image);
             keep(store, message(Direction::In, 2, kDecember9 + 1), image);
             ASSERT_EQ(unlink("History/20261209-174012-345-0001-in.wav"), 0);
         },
         {{"20261209-174012-346-0002-in.wav", Direction::In, kDecember9 + 1, false, false}}},
        {"files the station did not name are left alone",
         [&](HistoryStore::Options& o) {
             HistoryStore store(o);
             for (const char* name :
                  {"notes.txt", "20261309-174012-345-0001-in.wav",
                   "20261209-174012-345-0001-in.wav.part", "20261209-174012-345-001-in.wav"}) {
                 test::writeFile(std::string("History/") + name, image);
             }
             fs::create_directory("History/20261209-174012-345-0009-in.wav");
             fs::create_symlink("notes.txt", "History/20261209-174012-345-0008-in.wav");
         },
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory dir;
        auto o = options();
        c.crash(o);
        const auto filesBefore = messageFiles();
        auto next = options();
        next.playingTimeOf = [&](const Bytes& bytes) -> std::optional<int64_t> {
            return bytes == image ? 2500 : 0;
        };
        HistoryStore store(next);
        EXPECT_EQ(store.error(), "");
        const auto rows = store.newestFirst();
        ASSERT_EQ(rows.size(), c.rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].fileName, c.rows[i].fileName);
            EXPECT_EQ(rows[i].direction, c.rows[i].direction);
            EXPECT_EQ(rows[i].timeMs, c.rows[i].timeMs);
            EXPECT_EQ(rows[i].played, c.rows[i].played);
            EXPECT_EQ(rows[i].bytes, 700);
            EXPECT_EQ(rows[i].playingMs, c.rows[i].adopted ? 2500 : 1500);
            EXPECT_EQ(rows[i].address, c.rows[i].adopted ? "" : "10.0.0.2");
            EXPECT_EQ(rows[i].call, c.rows[i].adopted ? 0 : 2);
        }
        EXPECT_EQ(messageFiles(), filesBefore);  // files are never removed by mending
    }
}

TEST(HistoryStoreMending, ADamagedIndexIsMovedAsideAndTheFilesAdopted) {
    const std::vector<std::pair<const char*, std::function<void()>>> damages = {
        {"not a database at all", [] { test::writeFile(kIndex, pattern(10000, 7)); }},
        {"a page of the table overwritten",
         [] {
             auto bytes = test::fileBytes(kIndex);
             ASSERT_GT(bytes.size(), 8192u);
             const auto garbage = pattern(4096, 9);
             std::copy(garbage.begin(), garbage.end(), bytes.begin() + 4096);
             test::writeFile(kIndex, bytes);
         }},
    };
    for (const auto& [name, damage] : damages) {
        SCOPED_TRACE(name);
        ScratchDirectory dir;
        {
            HistoryStore store(options());
            keep(store, message(Direction::In, 2, kDecember9), pattern(300));
            keep(store, message(Direction::Out, 2, kDecember9 + 1, true), pattern(300));
        }
        damage();
        const auto damagedBytes = test::fileBytes(kIndex);
        HistoryStore store(options());
        EXPECT_TRUE(store.usable());
        EXPECT_FALSE(store.readOnly());
        EXPECT_NE(store.error().find("damaged"), std::string::npos) << store.error();
        EXPECT_EQ(rowFiles(store), messageFiles());
        EXPECT_EQ(store.newestFirst().size(), 2u);
        std::vector<std::string> aside;
        for (const auto& e : fs::directory_iterator("History")) {
            const auto file = e.path().filename().string();
            if (file.rfind("index.sqlite.damaged-", 0) == 0) {
                aside.push_back(file);
                EXPECT_NE(store.error().find(file), std::string::npos) << store.error();
            }
        }
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(test::fileBytes("History/" + aside[0]), damagedBytes);
        EXPECT_EQ(keep(store, message(Direction::In, 3, kDecember9 + 2), pattern(300)).kept,
                  Kept::Yes);
    }
}

TEST(HistoryStoreFaults, AFailedWriteKeepsNothingAndTheStoreGoesOn) {
    enum class Fault { Seam, FileSizeLimit, ReadOnlyDirectory };
    for (const auto fault : {Fault::Seam, Fault::FileSizeLimit, Fault::ReadOnlyDirectory}) {
        if (fault == Fault::ReadOnlyDirectory && geteuid() == 0) {
            continue;  // permissions do not stop root
        }
        SCOPED_TRACE(static_cast<int>(fault));
        ScratchDirectory dir;
        bool full = false;
        auto o = options();
        o.faults = [&](HistoryStore::Step step) {
            return !(full && step == HistoryStore::Step::File);
        };
        HistoryStore store(o);
        ASSERT_EQ(keep(store, message(Direction::In, 2, kDecember9), pattern(100)).kept, Kept::Yes);
        int changes = 0;
        store.setOnChange([&] { ++changes; });
        const auto before = messageFiles();
        const Bytes large = pattern(64 * 1024);
        switch (fault) {
            case Fault::Seam:
                full = true;
                EXPECT_EQ(keep(store, message(Direction::In, 2, kDecember9 + 1), large).kept,
                          Kept::Failed);
                full = false;
                break;
            case Fault::FileSizeLimit: {
                const auto handler = std::signal(SIGXFSZ, SIG_IGN);  // writes past it fail
                {
                    test::LimitScope limit(RLIMIT_FSIZE, 4096);
                    EXPECT_EQ(keep(store, message(Direction::In, 2, kDecember9 + 1), large).kept,
                              Kept::Failed);
                }
                std::signal(SIGXFSZ, handler);
                break;
            }
            case Fault::ReadOnlyDirectory:
                chmod("History", 0500);
                EXPECT_EQ(keep(store, message(Direction::In, 2, kDecember9 + 1), large).kept,
                          Kept::Failed);
                chmod("History", 0700);
                break;
        }
        EXPECT_EQ(messageFiles(), before);  // the partial file is gone
        EXPECT_EQ(store.newestFirst().size(), 1u);
        EXPECT_EQ(changes, 0);
        EXPECT_EQ(keep(store, message(Direction::In, 3, kDecember9 + 2), large).kept, Kept::Yes);
        EXPECT_EQ(rowFiles(store), messageFiles());
    }
}

TEST(HistoryStoreFolder, AHistoryThatIsNotAFolderOfItsOwnKeepsNothing) {
    struct Case {
        const char* name;
        std::function<void()> make;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"a file", [] { test::writeFile("History", pattern(10)); }, "is a file"},
        {"a link to a folder",
         [] {
             fs::create_directory("elsewhere");
             fs::create_directory_symlink("elsewhere", "History");
         },
         "symbolic link"},
        {"a link to nowhere", [] { fs::create_symlink("elsewhere", "History"); }, "symbolic link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory dir;
        c.make();
        HistoryStore store(options());
        EXPECT_FALSE(store.usable());
        EXPECT_NE(store.error().find(c.says), std::string::npos) << store.error();
        EXPECT_EQ(keep(store, message(Direction::In, 2, kDecember9), pattern(10)).kept,
                  Kept::Failed);
        EXPECT_TRUE(store.newestFirst().empty());
        EXPECT_FALSE(store.markPlayed(1));
        EXPECT_EQ(fs::exists("elsewhere") && !fs::is_empty("elsewhere"), false);
        EXPECT_EQ(fs::exists("elsewhere/index.sqlite"), false);
    }
}

TEST(HistoryStoreIndex, ANewerIndexIsOpenedReadOnlyAndLeftAsItIs) {
    ScratchDirectory dir;
    {
        HistoryStore store(options());
        keep(store, message(Direction::In, 2, kDecember9), pattern(300));
    }
    pragma("PRAGMA user_version = 2");
    test::writeFile("History/20261209-174013-000-0001-in.wav", pattern(300));  // adoptable

    HistoryStore store(options());
    EXPECT_TRUE(store.usable());
    EXPECT_TRUE(store.readOnly());
    EXPECT_NE(store.error().find("newer"), std::string::npos) << store.error();
    const auto rows = store.newestFirst();
    ASSERT_EQ(rows.size(), 1u);  // nothing adopted
    EXPECT_EQ(store.image(rows[0].id), pattern(300));
    EXPECT_EQ(keep(store, message(Direction::In, 2, kDecember9 + 5000), pattern(300)).kept,
              Kept::Failed);
    EXPECT_FALSE(store.markPlayed(rows[0].id));
    EXPECT_FALSE(store.remove(rows[0].id));
    EXPECT_EQ(store.clearPlayed(), 0);
    EXPECT_EQ(messageFiles().size(), 2u);
    EXPECT_EQ(pragma("PRAGMA user_version"), "2");
}

TEST(HistoryStoreIndex, AReadOnlyListingReadsBesideTheStationAndNeverMakesAnything) {
    ScratchDirectory dir;
    auto readOnly = options();
    readOnly.readOnly = true;
    {
        HistoryStore nothing(readOnly);
        EXPECT_FALSE(nothing.usable());
        EXPECT_FALSE(fs::exists("History"));
    }
    fs::create_directory("History");
    {
        HistoryStore noIndex(readOnly);
        EXPECT_FALSE(noIndex.usable());
        EXPECT_FALSE(fs::exists(kIndex));
    }

    HistoryStore station(options());
    keep(station, message(Direction::In, 2, kDecember9), pattern(300));
    test::writeFile("History/20261209-174013-000-0009-in.wav",
                    pattern(300));  // not for it to adopt
    HistoryStore listing(readOnly);
    ASSERT_TRUE(listing.usable()) << listing.error();
    EXPECT_TRUE(listing.readOnly());
    EXPECT_EQ(listing.newestFirst().size(), 1u);
    keep(station, message(Direction::In, 3, kDecember9 + 1000), pattern(200));
    EXPECT_EQ(listing.newestFirst().size(), 2u);  // the station's commit, seen at once
    EXPECT_EQ(listing.unplayedCount(), 2);
    EXPECT_EQ(keep(listing, message(Direction::In, 3, kDecember9 + 2000), pattern(200)).kept,
              Kept::Failed);
    EXPECT_EQ(station.newestFirst().size(), 2u);
}

}  // namespace
}  // namespace chatterly
