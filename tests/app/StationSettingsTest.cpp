// The station's settings file: what a missing, damaged or strange file gives
// (the defaults, value by value), and how a changed setting is written
// (whole, the user's alone, never through a link).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "app/StationSettings.h"
#include "support/TestSupport.h"

using namespace chatterly;

TEST(StationSettings, MissingDamagedOrOutOfRangeValuesGiveTheirDefaults) {
    const struct {
        const char* what;
        const char* text;  // nullptr: no file
        int64_t capMiB;
        bool hold;
    } rows[] = {
        {"no file", nullptr, 256, false},
        {"the values", "[History]\nCapMiB=64\nHoldMessages=true\n", 64, true},
        {"spaces and comments", "; mine\n[ History ]\n  CapMiB = 32 \n", 32, false},
        {"out of range", "[History]\nCapMiB=0\nHoldMessages=maybe\n", 256, false},
        {"not a number", "[History]\nCapMiB=12abc\n", 256, false},
        {"too large to be a number", "[History]\nCapMiB=99999999999999999999\n", 256, false},
        {"another section", "[Other]\nCapMiB=64\n", 256, false},
        {"binary junk", "\x01\x02[History\nCapMiB\n=\n\xff", 256, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        test::ScratchDirectory dir;
        if (r.text) {
            const std::string text = r.text;
            test::writeFile("Chatterly.ini", std::vector<uint8_t>(text.begin(), text.end()));
        }
        const StationSettings settings;
        EXPECT_EQ(settings.historyCapMiB(), r.capMiB);
        EXPECT_EQ(settings.holdMessages(), r.hold);
    }
}

TEST(StationSettings, AChangedSettingIsWrittenWholePrivateAndNeverThroughALink) {
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "a link under the name" : "a plain file");
        test::ScratchDirectory dir;
        test::writeFile("elsewhere", {'x'});
        if (link) {
            std::filesystem::create_symlink(dir.file("elsewhere"), "Chatterly.ini");
        } else {
            test::writeFile("Chatterly.ini", {'[', 'H', 'i', 's', 't', 'o', 'r', 'y', ']', '\n',
                                              'C', 'a', 'p', 'M', 'i', 'B', '=', '8', '\n'});
            ::chmod("Chatterly.ini", 0644);
        }
        StationSettings settings;
        ASSERT_TRUE(settings.setHoldMessages(true));
        EXPECT_EQ(test::fileBytes("elsewhere"), std::vector<uint8_t>{'x'});
        EXPECT_FALSE(std::filesystem::is_symlink("Chatterly.ini"));
        struct stat st {};
        ASSERT_EQ(::stat("Chatterly.ini", &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        const StationSettings again;
        EXPECT_TRUE(again.holdMessages());
        EXPECT_EQ(again.historyCapMiB(), link ? 256 : 8);  // other values kept
    }
}
