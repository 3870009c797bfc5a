#pragma once
// The names of the message files under "History/", the one place their
// format lives: "20261209-174012-345-0001-in.wav" is the message's time (UTC,
// to the millisecond), a counter of four digits that keeps two messages of
// the same millisecond apart, and its direction. The station makes every
// name itself, never from anything a caller sent; at open, a file whose name
// parses is one of the station's and is adopted with that time and
// direction. Pure functions of their arguments.

#include <cstdint>
#include <optional>
#include <string>

#include "history/HistoryStore.h"

namespace chatterly {

class HistoryFileName {
  public:
    // The counter runs from 1 to kCounterEnd - 1 and round again.
    static constexpr unsigned kCounterEnd = 10000;
    // The latest time a name can carry (9999-12-31 23:59:59.999 UTC).
    static constexpr int64_t kLatestMs = 253402300799999;

    // What a name tells of its message.
    struct Parts {
        int64_t timeMs = 0;
        Direction direction = Direction::In;
    };

    // The name of a message at timeMs (0 to kLatestMs) with that counter.
    static std::string make(int64_t timeMs, unsigned counter, Direction direction);
    // The counter after counter: 1 to kCounterEnd - 1, round again.
    static unsigned nextCounter(unsigned counter);
    // Whether a name can carry timeMs.
    static bool canCarry(int64_t timeMs);
    // The time and direction in a name the station made; nothing for any
    // other name (a real date and time, the exact shape, nothing more).
    static std::optional<Parts> parse(const std::string& name);
    // A name inside the directory (no path, not "." or ".."): an index edited
    // by hand cannot point elsewhere.
    static bool isPlain(const std::string& name);
    // "YYYYMMDD-HHMMSS" in UTC, as a name begins; also the stamp a damaged
    // index carries when it is moved aside.
    static std::string stamp(int64_t timeMs);
};

}  // namespace chatterly
