#pragma once
// The presses of Talk that a global key makes, in the shortcut's mode:
// toggle (each press of the key is one press of Talk) or hold (key down
// presses Talk, key up presses it again). The key's auto-repeat makes none:
// a down while the key is down, and a release followed by a down with the
// same time (how X11 repeats without detectable auto-repeat), are dropped. A
// release is therefore held until settle() or such a down. Plain state, no
// thread of its own.

#include <cstdint>
#include <optional>

namespace chatterly {

enum class ShortcutMode { Toggle, Hold };

class ShortcutPresses {
  public:
    explicit ShortcutPresses(ShortcutMode mode = ShortcutMode::Toggle) : mode_(mode) {}

    // The key went down at time (the X server's or the desktop's): the
    // presses of Talk this makes now.
    [[nodiscard]] int down(uint64_t time);
    // The key went up at time; held until settle() or a down at that time.
    void up(uint64_t time);
    // The held release was a real one: the presses of Talk it makes.
    [[nodiscard]] int settle();
    // Forgets the key: the presses that put Talk back up (hold, key down).
    [[nodiscard]] int reset();

  private:
    ShortcutMode mode_;
    bool down_ = false;
    std::optional<uint64_t> heldUp_;  // a release not yet known to be real
};

}  // namespace chatterly
