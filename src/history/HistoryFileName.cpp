#include "history/HistoryFileName.h"

#include <cstdio>
#include <ctime>

namespace chatterly {

namespace {

// YYYYMMDD-HHMMSS-mmm-NNNN- is 25 characters; "in.wav" or "out.wav" follows.
constexpr size_t kFixed = 25;

// Reads count digits at text[at]; -1 when they are not all digits.
int digits(const std::string& text, size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return -1;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

std::string HistoryFileName::stamp(int64_t timeMs) {
    const time_t seconds = static_cast<time_t>(timeMs / 1000);
    std::tm t{};
    gmtime_r(&seconds, &t);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string HistoryFileName::make(int64_t timeMs, unsigned counter, Direction direction) {
    char text[64];
    std::snprintf(text, sizeof text, "%s-%03d-%04u-%s.wav", stamp(timeMs).c_str(),
                  static_cast<int>(timeMs % 1000), counter,
                  direction == Direction::Out ? "out" : "in");
    return text;
}

unsigned HistoryFileName::nextCounter(unsigned counter) {
    return counter % (kCounterEnd - 1) + 1;
}

bool HistoryFileName::canCarry(int64_t timeMs) {
    return timeMs >= 0 && timeMs <= kLatestMs;
}

std::optional<HistoryFileName::Parts> HistoryFileName::parse(const std::string& name) {
    Parts parts;
    if (name.size() == kFixed + 6 && name.compare(kFixed, 6, "in.wav") == 0) {
        parts.direction = Direction::In;
    } else if (name.size() == kFixed + 7 && name.compare(kFixed, 7, "out.wav") == 0) {
        parts.direction = Direction::Out;
    } else {
        return std::nullopt;
    }
    for (const size_t dash : {8, 15, 19, 24}) {
        if (name[dash] != '-') {
            return std::nullopt;
        }
    }
    std::tm t{};
    t.tm_year = digits(name, 0, 4) - 1900;
    t.tm_mon = digits(name, 4, 2) - 1;
    t.tm_mday = digits(name, 6, 2);
    t.tm_hour = digits(name, 9, 2);
    t.tm_min = digits(name, 11, 2);
    t.tm_sec = digits(name, 13, 2);
    const int millis = digits(name, 16, 3);
    if (millis < 0 || digits(name, 20, 4) < 0 || t.tm_year < -1900) {
        return std::nullopt;
    }
    const std::tm asked = t;
    const time_t seconds = timegm(&t);
    // timegm normalises an impossible date (February 30th): refuse it.
    if (t.tm_year != asked.tm_year || t.tm_mon != asked.tm_mon || t.tm_mday != asked.tm_mday ||
        t.tm_hour != asked.tm_hour || t.tm_min != asked.tm_min || t.tm_sec != asked.tm_sec) {
        return std::nullopt;
    }
    parts.timeMs = static_cast<int64_t>(seconds) * 1000 + millis;
    return parts;
}

bool HistoryFileName::isPlain(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace chatterly
