#include "shortcut/ShortcutPresses.h"

namespace chatterly {

int ShortcutPresses::down(uint64_t time) {
    if (heldUp_ && *heldUp_ == time) {
        heldUp_.reset();  // auto-repeat: the key never went up
        return 0;
    }
    const int released = settle();
    if (down_) {
        return released;  // auto-repeat: another down while down
    }
    down_ = true;
    return released + 1;
}

void ShortcutPresses::up(uint64_t time) {
    if (down_ && !heldUp_) {
        heldUp_ = time;
    }
}

int ShortcutPresses::settle() {
    if (!heldUp_) {
        return 0;
    }
    heldUp_.reset();
    down_ = false;
    return mode_ == ShortcutMode::Hold ? 1 : 0;
}

int ShortcutPresses::reset() {
    const bool wasDown = down_;
    heldUp_.reset();
    down_ = false;
    return wasDown && mode_ == ShortcutMode::Hold ? 1 : 0;
}

}  // namespace chatterly
