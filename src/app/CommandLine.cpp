#include "app/CommandLine.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "app/StartModeSwitch.h"
#include "app/TalkCommand.h"
#include "history/HistoryListing.h"
#include "history/HistoryStore.h"

namespace chatterly {
namespace {

constexpr const char* kUsage =
    "Usage: chatterly [OPTION]\n"
    "A push-to-talk voice-message station for the local network. Without an option it\n"
    "starts the station of the working directory.\n"
    "\n"
    "  --history  print the messages kept in the working directory's History/, newest\n"
    "             first: time (UTC), in or out, station, seconds, played or unplayed,\n"
    "             file (tab-separated)\n"
    "  --talk     toggle Talk of the station running in the working directory, as a\n"
    "             click on its Talk button would, and print what it did: recording,\n"
    "             sent, or queued (taken after the message that plays); exits 1 with\n"
    "             \"no station\" or \"no call\"\n"
    "  --help     print this help\n";

}  // namespace

std::optional<int> CommandLine::run(int argc, char** argv) {
    std::string startMode = StartModeSwitch::join(argc, argv);
    if (argc < 2 || std::strncmp(argv[1], "--", 2) != 0 || StartModeSwitch::cut(startMode)) {
        return std::nullopt;
    }
    const char* option = argv[1];
    if (argc > 2) {
        std::fprintf(stderr, "chatterly: %s takes no arguments\n", option);
        return 2;
    }
    if (std::strcmp(option, "--history") == 0) {
        return HistoryListing::print(HistoryStore::kDirectory, stdout, stderr);
    }
    if (std::strcmp(option, "--talk") == 0) {
        return TalkCommand::run(stdout, stderr);
    }
    if (std::strcmp(option, "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::fprintf(stderr, "chatterly: unknown option %s (see chatterly --help)\n", option);
    return 2;
}

}  // namespace chatterly
