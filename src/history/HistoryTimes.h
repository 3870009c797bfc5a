#pragma once
// The texts the history gives its times: when a message came or went, as the
// user's clock reads it (local time), kept short for the near past; how long
// a message plays; and the time stamp a saved copy's file name carries. Pure
// functions of their arguments, so a test can give any "now".

#include <QString>
#include <cstdint>

namespace chatterly {

class HistoryTimes {
  public:
    // timeMs said against nowMs (both UTC ms since the epoch), in local time:
    // "12:40" on now's day, "yesterday 18:02" on the day before, else
    // "2026-12-01 09:15".
    static QString describe(int64_t timeMs, int64_t nowMs);
    // A playing time to the nearest second: "0:07", "12:03", "1:02:03".
    static QString playingTime(int64_t playingMs);
    // timeMs as a file name may carry it (local time): "2026-12-01 09-15".
    static QString fileStamp(int64_t timeMs);
};

}  // namespace chatterly
