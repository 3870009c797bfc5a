#pragma once
// "chatterly --talk" as the tests run it: on a thread of its own, so that the
// station it asks can answer on the GUI thread.

#include <chrono>
#include <cstdio>
#include <future>
#include <string>

#include "app/TalkCommand.h"

namespace chatterly::test {

struct TalkResult {
    int code = -1;
    std::string line;  // what it printed, '\n' included
    std::chrono::steady_clock::duration took{};
};

inline std::future<TalkResult> startTalkCommand() {
    return std::async(std::launch::async, [] {
        const auto start = std::chrono::steady_clock::now();
        std::FILE* out = std::tmpfile();
        TalkResult result;
        result.code = TalkCommand::run(out, out);
        result.took = std::chrono::steady_clock::now() - start;
        std::rewind(out);
        char line[128]{};
        if (std::fgets(line, sizeof line, out)) {
            result.line = line;
        }
        std::fclose(out);
        return result;
    });
}

}  // namespace chatterly::test
