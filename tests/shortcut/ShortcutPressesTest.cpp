// The presses of Talk that key events make in both modes: auto-repeat (more
// downs, or release and down pairs with one time) makes none, a release
// counts once it is known to be real.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "shortcut/ShortcutPresses.h"

using namespace chatterly;

namespace {

// Runs script ("d5": down at 5, "u6": up at 6, ".": settle, "r": reset):
// the presses of Talk it made.
int pressesOf(ShortcutMode mode, const std::string& script) {
    ShortcutPresses presses(mode);
    std::istringstream events(script);
    int made = 0;
    for (std::string event; events >> event;) {
        const uint64_t time = event.size() > 1 ? std::stoull(event.substr(1)) : 0;
        switch (event[0]) {
            case 'd':
                made += presses.down(time);
                break;
            case 'u':
                presses.up(time);
                break;
            case '.':
                made += presses.settle();
                break;
            case 'r':
                made += presses.reset();
                break;
        }
    }
    return made;
}

}  // namespace

TEST(ShortcutPresses, KeyEventsMakeTheirPressesInEachMode) {
    const struct {
        const char* script;
        int toggle;
        int hold;
    } rows[] = {
        {"d1 u2 .", 1, 2},
        {"d1 u2 . d3 u4 .", 2, 4},
        {"d1 d2 d3 u4 .", 1, 2},        // repeats as more downs
        {"d1 u2 d2 u3 d3 u4 .", 1, 2},  // repeats as release and down pairs
        {"d1 u2", 1, 1},                // the release not yet known to be real
        {"d1 u2 d5 u6 .", 2, 4},        // a later down makes the held release real
        {"u1 . d2", 1, 1},              // a release without a down
        {"d1 r", 1, 2},                 // forgotten while down: Talk back up
        {"d1 u2 . r", 1, 2},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pressesOf(ShortcutMode::Toggle, row.script), row.toggle) << row.script;
        EXPECT_EQ(pressesOf(ShortcutMode::Hold, row.script), row.hold) << row.script;
    }
}
