// The station memory against real files in a scratch working directory: the
// file's bytes, loading back, damaged files with what each leaves loaded, the
// rebuild after the memory dialog, and saves that fail.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "framework/threads/ErrorReport.h"
#include "memory/StationMemory.h"
#include "support/TestSupport.h"

namespace chatterly {
namespace {

using test::MessageBoxRecorder;
using test::ScratchDirectory;
using test::writeFile;
using Bytes = std::vector<uint8_t>;
using Pairs = std::map<std::string, std::string>;

constexpr const char* kEndOfData = "An attempt was made to access an unnamed file past its end.";
constexpr const char* kSaveFailed = "Failed to open Parlio.mem to save memory.";

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// A string with the one-byte prefix.
Bytes str(const std::string& s) {
    Bytes out(1 + s.size());
    out[0] = static_cast<uint8_t>(s.size());
    std::copy(s.begin(), s.end(), out.begin() + 1);
    return out;
}
Bytes u16(uint16_t n) {
    return {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
}
Bytes cut(const Bytes& b, size_t keep) {
    return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(keep));
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> addresses(const StationMemory& m) {
    return std::vector<std::string>(m.AddressList().begin(), m.AddressList().end());
}
Pairs pairs(const CMapStringToString& map) {
    Pairs out;
    map.ForEach([&](const std::string& k, const std::string& v) { out[k] = v; });
    return out;
}
CStringArray entries(std::initializer_list<std::string> list) {
    CStringArray out;
    for (const auto& e : list) {
        out.Add(e);
    }
    return out;
}

// The two stations as the memory dialog leaves them, section by section.
const Bytes kWorkedExample = u16(2) + str("10.0.0.2") + str("10.0.0.5") +  //
                             u16(2) + str("10.0.0.5") + str("desk") +      // chain 2
                             str("10.0.0.2") + str("hall") +               // chain 16
                             u16(2) + str("desk") + str("10.0.0.5") +      // chain 10, newer
                             str("hall") + str("10.0.0.2");                // chain 10
const Bytes kEmpty = {0, 0, 0, 0, 0, 0};

TEST(StationMemoryFile, WorkedExampleIsWrittenByteForByteAndLoadsBack) {
    ScratchDirectory dir;
    {
        StationMemory memory;
        EXPECT_EQ(memory.rebuildFromEntries(entries({"10.0.0.2 == hall", "10.0.0.5 == desk"})),
                  (std::vector<std::string>{"hall", "desk"}));
        memory.SaveMemory();
    }
    EXPECT_EQ(test::fileBytes("Parlio.mem"), kWorkedExample);
    EXPECT_EQ(test::fileBytes(CHATTERLY_TEST_DATA "/memory/two-stations.mem"), kWorkedExample);

    StationMemory loaded;
    const auto texts = loaded.LoadMemory();
    ASSERT_TRUE(texts);
    EXPECT_EQ(*texts, (std::vector<std::string>{"hall", "desk"}));
    EXPECT_EQ(addresses(loaded), (std::vector<std::string>{"10.0.0.2", "10.0.0.5"}));
    EXPECT_EQ(pairs(loaded.AliasByAddress()), (Pairs{{"10.0.0.2", "hall"}, {"10.0.0.5", "desk"}}));
    EXPECT_EQ(pairs(loaded.AddressByAlias()), (Pairs{{"hall", "10.0.0.2"}, {"desk", "10.0.0.5"}}));
    // The lookups are exact: Desk is not desk and stays the connection target.
    EXPECT_EQ(loaded.resolveRemote("desk"), "10.0.0.5");
    EXPECT_EQ(loaded.resolveRemote("Desk"), "Desk");
    EXPECT_EQ(loaded.resolveRemote("10.0.0.7"), "10.0.0.7");
    EXPECT_EQ(loaded.callerName("10.0.0.2"), "hall");
    EXPECT_EQ(loaded.callerName("10.0.0.9"), "10.0.0.9");
}

TEST(StationMemoryFile, EmptyMemoryIsSixZeroBytesAndLoadsEmpty) {
    ScratchDirectory dir;
    StationMemory memory;
    memory.SaveMemory();
    EXPECT_EQ(test::fileBytes("Parlio.mem"), kEmpty);

    MessageBoxRecorder boxes;
    StationMemory loaded;
    const auto texts = loaded.LoadMemory();
    ASSERT_TRUE(texts);  // read: the station empties its combo box
    EXPECT_TRUE(texts->empty());
    EXPECT_EQ(loaded.AddressList().GetSize(), 0u);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST(StationMemoryFile, MapSectionsFollowTheChainsNewestKeyFirst) {
    // Each station is its own alias, so both map sections list the same keys:
    // chain 0 (""), 2 (10.0.0.5), 10 (desk inserted after hall, so first,
    // then hall), 12 (a), 16 (10.0.0.2), whatever the order of insertion.
    ScratchDirectory dir;
    StationMemory memory;
    memory.rebuildFromEntries(entries({" == ", "a == a", "hall == hall", "desk == desk",
                                       "10.0.0.5 == 10.0.0.5", "10.0.0.2 == 10.0.0.2"}));
    memory.SaveMemory();
    Bytes chained;
    for (const char* key : {"", "10.0.0.5", "desk", "hall", "a", "10.0.0.2"}) {
        chained = chained + str(key) + str(key);
    }
    const Bytes list =
        u16(6) + str("") + str("a") + str("hall") + str("desk") + str("10.0.0.5") + str("10.0.0.2");
    EXPECT_EQ(test::fileBytes("Parlio.mem"), list + u16(6) + chained + u16(6) + chained);
}

TEST(StationMemoryFile, UnopenableFilesLoadNothingSilently) {
    const struct {
        const char* what;
        std::function<void()> make;
    } cases[] = {
        {"missing", [] {}},
        {"a directory", [] { std::filesystem::create_directory("Parlio.mem"); }},
        // With no writer, opening it to wait for one would hold the start.
        {"a FIFO", [] { ASSERT_EQ(mkfifo("Parlio.mem", 0600), 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDirectory dir;
        c.make();
        MessageBoxRecorder boxes;
        StationMemory memory;
        memory.rebuildFromEntries(entries({"10.0.0.2 == hall"}));
        EXPECT_FALSE(memory.LoadMemory());
        EXPECT_EQ(addresses(memory), std::vector<std::string>{"10.0.0.2"});  // unchanged
        EXPECT_EQ(boxes.count(), 0u);
    }
}

TEST(StationMemoryFile, DamagedFilesKeepWhatWasReadAndReportEndOfData) {
    const Bytes section1 = u16(2) + str("10.0.0.2") + str("10.0.0.5");
    const Bytes section2 = u16(2) + str("10.0.0.5") + str("desk") + str("10.0.0.2") + str("hall");
    const Bytes section3 = u16(2) + str("desk") + str("10.0.0.5") + str("hall") + str("10.0.0.2");
    const std::vector<std::string> both = {"10.0.0.2", "10.0.0.5"};
    const Pairs byAddress = {{"10.0.0.5", "desk"}, {"10.0.0.2", "hall"}};
    const Bytes hugeCount = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

    const struct {
        const char* what;
        Bytes file;
        bool endOfData;
        std::vector<std::string> addresses;
        Pairs aliasByAddress;
        Pairs addressByAlias;
        std::vector<std::string> combo;  // when no error
    } cases[] = {
        {"zero length", {}, true, {}, {}, {}, {}},
        {"cut inside the first count", {0x02}, true, {}, {}, {}, {}},
        // The list is sized first; the element not read stays empty.
        {"cut inside section 1", cut(section1, 2 + 9 + 4), true, {"10.0.0.2", ""}, {}, {}, {}},
        {"cut before section 2", section1, true, both, {}, {}, {}},
        // The pair whose value is cut off is not assigned.
        {"cut inside section 2",
         section1 + cut(section2, 2 + 9 + 5 + 9),
         true,
         both,
         {{"10.0.0.5", "desk"}},
         {},
         {}},
        {"cut inside section 3",
         section1 + section2 + cut(section3, 2 + 5 + 3),
         true,
         both,
         byAddress,
         {},
         {}},
        {"last byte missing",
         cut(kWorkedExample, kWorkedExample.size() - 1),
         true,
         both,
         byAddress,
         {{"desk", "10.0.0.5"}},
         {}},
        // Counts and lengths the rest of the file cannot hold end the load as
        // an early end would, before anything is allocated for them.
        {"huge address count", hugeCount + str("10.0.0.2"), true, {}, {}, {}, {}},
        {"huge pair count", section1 + hugeCount + Bytes(20, 0), true, both, {}, {}, {}},
        {"pair count one beyond the rest", section1 + u16(3) + Bytes(5, 0), true, both, {}, {}, {}},
        {"pair count that just fits",
         section1 + u16(2) + Bytes(4, 0),
         true,
         both,
         {{"", ""}},
         {},
         {}},
        {"huge string length",
         u16(1) + Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F} + str("x"),
         true,
         {""},
         {},
         {},
         {}},
        {"trailing bytes",
         kWorkedExample + Bytes{1, 2, 3},
         false,
         both,
         byAddress,
         {{"desk", "10.0.0.5"}, {"hall", "10.0.0.2"}},
         {"hall", "desk"}},
        {"duplicate keys keep the later value",
         u16(1) + str("10.0.0.5") + u16(2) + str("10.0.0.5") + str("old") + str("10.0.0.5") +
             str("new") + u16(0),
         false,
         {"10.0.0.5"},
         {{"10.0.0.5", "new"}},
         {},
         {"new"}},
        {"a repeated address occurs twice",
         u16(2) + str("10.0.0.5") + str("10.0.0.5") + u16(1) + str("10.0.0.5") + str("desk") +
             u16(0),
         false,
         {"10.0.0.5", "10.0.0.5"},
         {{"10.0.0.5", "desk"}},
         {},
         {"desk", "desk"}},
        // Sections that disagree load as they stand; an empty alias shows.
        {"sections disagree",
         u16(2) + str("10.0.0.7") + str("10.0.0.8") + u16(2) + str("10.0.0.8") + str("") +
             str("10.0.0.1") + str("x") + u16(1) + str("y") + str("10.0.0.7"),
         false,
         {"10.0.0.7", "10.0.0.8"},
         {{"10.0.0.8", ""}, {"10.0.0.1", "x"}},
         {{"y", "10.0.0.7"}},
         {"10.0.0.7", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDirectory dir;
        writeFile("Parlio.mem", c.file);
        MessageBoxRecorder boxes;
        StationMemory memory;
        std::optional<std::vector<std::string>> texts;
        // As in the station: the load runs inside a dispatched handler.
        const bool completed = ErrorReport::run([&] { texts = memory.LoadMemory(); });
        EXPECT_EQ(completed, !c.endOfData);
        if (c.endOfData) {
            ASSERT_EQ(boxes.count(), 1u);
            EXPECT_EQ(boxes.boxes()[0].text, kEndOfData);
            EXPECT_EQ(boxes.boxes()[0].icon, MessageIcon::Stop);
            EXPECT_FALSE(texts);  // the combo box is not filled
        } else {
            EXPECT_EQ(boxes.count(), 0u);
            ASSERT_TRUE(texts);
            EXPECT_EQ(*texts, c.combo);
        }
        EXPECT_EQ(addresses(memory), c.addresses);
        EXPECT_EQ(pairs(memory.AliasByAddress()), c.aliasByAddress);
        EXPECT_EQ(pairs(memory.AddressByAlias()), c.addressByAlias);
    }
}

TEST(StationMemoryRebuild, EntriesBecomeStationsByTheApplyRules) {
    const struct {
        const char* what;
        CStringArray entries;
        std::vector<std::string> combo;
        std::vector<std::string> addresses;
        Pairs aliasByAddress;
        Pairs addressByAlias;
    } cases[] = {
        {"alias and plain address",
         entries({"10.0.0.2 == hall", "10.0.0.9"}),
         {"hall", "10.0.0.9"},
         {"10.0.0.2", "10.0.0.9"},
         {{"10.0.0.2", "hall"}},
         {{"hall", "10.0.0.2"}}},
        // Only the address of an entry with "==" is trimmed.
        {"trailing blanks",
         entries({"10.0.0.3  \t == x", "10.0.0.4 "}),
         {"x", "10.0.0.4 "},
         {"10.0.0.3", "10.0.0.4 "},
         {{"10.0.0.3", "x"}},
         {{"x", "10.0.0.3"}}},
        // The later entry in list order wins the alias; both addresses keep it.
        {"two entries with one alias",
         entries({"10.0.0.1 == a", "10.0.0.2 == a"}),
         {"a", "a"},
         {"10.0.0.1", "10.0.0.2"},
         {{"10.0.0.1", "a"}, {"10.0.0.2", "a"}},
         {{"a", "10.0.0.2"}}},
        // "==" with nothing after it: an empty alias, pairs in both maps, and
        // the combo box shows the address.
        {"empty alias",
         entries({"desk ==", "hall == "}),
         {"desk", "hall"},
         {"desk", "hall"},
         {{"desk", ""}, {"hall", ""}},
         {{"", "hall"}}},
        {"empty entry", entries({""}), {""}, {""}, {}, {}},
        // The address ends at the first '='; the alias starts after the "==".
        {"equals sign in the address",
         entries({"a=b == c"}),
         {"c"},
         {"a"},
         {{"a", "c"}},
         {{"c", "a"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StationMemory memory;
        memory.rebuildFromEntries(entries({"old == stale"}));
        EXPECT_EQ(memory.rebuildFromEntries(c.entries), c.combo);
        EXPECT_EQ(addresses(memory), c.addresses);
        EXPECT_EQ(pairs(memory.AliasByAddress()), c.aliasByAddress);
        EXPECT_EQ(pairs(memory.AddressByAlias()), c.addressByAlias);
    }
}

// Each fault strikes a different step of the save: creating the new file,
// or writing it (a full disk, made with a file size limit).
enum class SaveFault { ReadOnlyDirectory, ReadOnlyFile, NoDescriptorLeft, DiskFull };

void expectSaveFailsKeepingTheOldFile(SaveFault fault) {
    ScratchDirectory dir;
    writeFile("Parlio.mem", kWorkedExample);
    MessageBoxRecorder boxes;
    StationMemory memory;
    CStringArray many;
    for (int i = 0; i < 500; ++i) {
        many.Add("10.0.1." + std::to_string(i) + " == station" + std::to_string(i));
    }
    memory.rebuildFromEntries(many);
    switch (fault) {
        case SaveFault::ReadOnlyDirectory:
            chmod(dir.path().c_str(), 0555);
            memory.SaveMemory();
            chmod(dir.path().c_str(), 0755);
            break;
        case SaveFault::ReadOnlyFile:
            chmod("Parlio.mem", 0444);
            memory.SaveMemory();
            break;
        case SaveFault::NoDescriptorLeft: {
            test::LimitScope noFiles(RLIMIT_NOFILE, test::lowestFreeDescriptor());
            memory.SaveMemory();
            break;
        }
        case SaveFault::DiskFull: {
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);  // writes past it fail instead
            {
                test::LimitScope small(RLIMIT_FSIZE, 100);
                memory.SaveMemory();
            }
            std::signal(SIGXFSZ, oldHandler);
            break;
        }
    }
    EXPECT_EQ(boxes.texts(), std::vector<std::string>{kSaveFailed});
    EXPECT_EQ(test::fileBytes("Parlio.mem"), kWorkedExample);
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"Parlio.mem"});
    // The station keeps the new memory.
    EXPECT_EQ(memory.AddressList().GetSize(), 500u);
    EXPECT_EQ(memory.resolveRemote("station7"), "10.0.1.7");
}

class StationMemorySaveFault : public ::testing::TestWithParam<SaveFault> {};

TEST_P(StationMemorySaveFault, ShowsTheMessageAndLeavesTheOldFileWhole) {
    const bool permission =
        GetParam() == SaveFault::ReadOnlyDirectory || GetParam() == SaveFault::ReadOnlyFile;
    if (permission && geteuid() == 0) {
        GTEST_SKIP() << "permissions do not stop root";
    }
    if (GetParam() == SaveFault::NoDescriptorLeft && test::kUndefinedChecks) {
        GTEST_SKIP() << test::kNeedsDescriptors;
    }
    expectSaveFailsKeepingTheOldFile(GetParam());
}

std::string faultName(const ::testing::TestParamInfo<SaveFault>& info) {
    const char* names[] = {"DirectoryWithoutWritePermission", "FileWithoutWritePermission",
                           "NoDescriptorLeftToCreateTheFile", "DiskFullPartWay"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Faults, StationMemorySaveFault,
                         ::testing::Values(SaveFault::ReadOnlyDirectory, SaveFault::ReadOnlyFile,
                                           SaveFault::NoDescriptorLeft, SaveFault::DiskFull),
                         faultName);

TEST(StationMemorySave, ReplacesTheFileKeepingItsPermissionsAndLinks) {
    const struct {
        const char* what;
        const char* link;              // the name "Parlio.mem" links to (nullptr: no link)
        const char* file;              // the file saved to
        std::optional<mode_t> before;  // its mode before the save (none: no file)
        mode_t after;
    } cases[] = {
        // What the station keeps about its user is the user's alone, whatever
        // the umask (022 here) would give a new file.
        {"no file before", nullptr, "Parlio.mem", std::nullopt, 0600},
        {"a file longer than the new contents", nullptr, "Parlio.mem", 0640, 0640},
        // A memory file kept elsewhere (a synced folder) through a link stays
        // linked and keeps its mode.
        {"a link to a file kept elsewhere", "keep/stations.mem", "keep/stations.mem", 0640, 0640},
    };
    const mode_t umaskBefore = umask(022);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDirectory dir;
        MessageBoxRecorder boxes;
        StationMemory memory;
        memory.rebuildFromEntries(entries({"10.0.0.2 == hall", "10.0.0.5 == desk"}));
        std::filesystem::create_directory("keep");
        if (c.before) {
            writeFile(c.file, Bytes(10000, 0xAA));
            chmod(c.file, *c.before);
        }
        if (c.link) {
            std::filesystem::create_symlink(c.link, "Parlio.mem");
        }
        memory.SaveMemory();
        EXPECT_EQ(std::filesystem::is_symlink("Parlio.mem"), c.link != nullptr);
        EXPECT_EQ(test::fileBytes(c.file), kWorkedExample);
        struct stat st {};
        EXPECT_EQ(stat(c.file, &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.after);
        EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"Parlio.mem", "keep"}));
        EXPECT_EQ(filesIn(dir.path() + "/keep").size(), c.link ? 1u : 0u);
        EXPECT_EQ(boxes.count(), 0u);
    }
    umask(umaskBefore);
}

TEST(StationMemorySave, AnotherFileNameCanBeGiven) {
    ScratchDirectory dir;
    StationMemory memory(dir.file("other.mem"));
    memory.SaveMemory();
    EXPECT_EQ(test::fileBytes(dir.file("other.mem")), kEmpty);
    EXPECT_FALSE(std::filesystem::exists("Parlio.mem"));
}

}  // namespace
}  // namespace chatterly
