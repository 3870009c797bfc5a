#pragma once
// The history as the command line prints it: one tab-separated line per
// message, newest first: the time (ISO 8601, UTC, milliseconds), "in" or
// "out", the station (alias, else address), the playing time in seconds,
// "played" or "unplayed", and the path of the message's file. It reads the
// index read-only, so it may run beside a station that writes it.

#include <cstdio>
#include <string>

#include "history/HistoryStore.h"

namespace chatterly {

class HistoryListing {
  public:
    // One entry's line, without its line break.
    static std::string line(const HistoryEntry& entry, const std::string& path);
    // Prints the history under directory to out; a notice (an index newer
    // than this program) goes to err. Returns the exit code: 0, or 1 with one
    // line on err when there is no history to read.
    static int print(const std::string& directory, std::FILE* out, std::FILE* err);
};

}  // namespace chatterly
