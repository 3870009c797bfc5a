#pragma once
// What every fuzz target does when the code breaks a promise it makes: say
// which one on stderr and abort, so libFuzzer keeps the input as a crash.

#include <cstdio>
#include <cstdlib>

namespace chatterly::fuzz {

inline void require(bool kept, const char* promise) {
    if (!kept) {
        std::fprintf(stderr, "broken promise: %s\n", promise);
        std::abort();
    }
}

}  // namespace chatterly::fuzz
