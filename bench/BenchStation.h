#pragma once
// A station as a benchmark runs it: listening on a port of its own, its
// window made. Without a sound server (or a port) there is nothing to
// measure: the benchmark says so and ends.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/Station.h"

namespace chatterly::bench {

// options.listenPort is set to 0 (a free port); the rest is the caller's.
inline std::unique_ptr<Station> listeningStation(StationOptions options = {}) {
    options.listenPort = 0;
    auto station = std::make_unique<Station>(options);
    station->InitStationWindow();
    if (station->listeningPort() == 0) {
        std::fprintf(stderr, "no sound server or no port: run under tools/with-sound-server.sh\n");
        std::exit(1);
    }
    return station;
}

}  // namespace chatterly::bench
