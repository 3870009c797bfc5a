#pragma once
// "chatterly --talk": asks the station of the working directory to toggle
// Talk, as a click on its Talk button would, over the station's local socket
// (StationRequests), and prints the station's one-line reply. Needs no
// display.

#include <chrono>
#include <cstdio>

namespace chatterly {

class TalkCommand {
  public:
    static constexpr std::chrono::milliseconds kReplyLimit{5000};

    // The reply goes to out when Talk was toggled ("recording", "sent" or
    // "queued"; returns 0), anything else ("no station", "no call", no answer
    // within limit) to err (returns 1).
    static int run(std::FILE* out, std::FILE* err, std::chrono::milliseconds limit = kReplyLimit);
};

}  // namespace chatterly
