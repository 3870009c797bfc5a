// One station per working directory: a second start finds the first and
// pokes it, also when the first is still starting or left a stale socket.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "app/StationLock.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::ScratchDirectory;
using chatterly::test::waitFor;

namespace {

// A socket file such as a station killed before its clean-up leaves.
void leaveStaleSocket() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, StationLock::kSocketName);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
}

}  // namespace

TEST(StationLock, ASecondStartPokesTheFirstAndALaterOneRunsOnceTheFirstHasGone) {
    for (const bool stale : {false, true}) {
        SCOPED_TRACE(stale ? "with a stale socket" : "in a fresh directory");
        ScratchDirectory dir;
        if (stale) {
            leaveStaleSocket();
        }
        int pokes = 0;
        auto first = std::make_unique<StationLock>();
        ASSERT_TRUE(first->claim());
        first->listen([&] { ++pokes; });

        StationLock second;
        EXPECT_FALSE(second.claim());
        EXPECT_TRUE(waitFor([&] { return pokes == 1; }));
        StationLock third;
        EXPECT_FALSE(third.claim());
        EXPECT_TRUE(waitFor([&] { return pokes == 2; }));

        first.reset();
        EXPECT_FALSE(std::filesystem::exists(StationLock::kSocketName));
        StationLock later;
        EXPECT_TRUE(later.claim());
    }
}

// The lock and the socket are made for the user alone, and a link planted
// under the lock's name makes nothing elsewhere.
TEST(StationLock, ItsFilesAreTheUsersAloneAndNoLinkIsFollowed) {
    namespace fs = std::filesystem;
    for (const bool planted : {false, true}) {
        SCOPED_TRACE(planted ? "a dangling link planted as the lock" : "a fresh directory");
        ScratchDirectory dir;
        if (planted) {
            fs::create_symlink(dir.file("elsewhere"), StationLock::kLockName);
        }
        StationLock lock;
        ASSERT_TRUE(lock.claim());
        lock.listen([] {});
        EXPECT_FALSE(fs::exists(dir.file("elsewhere")));
        EXPECT_FALSE(fs::is_symlink(StationLock::kLockName));
        for (const char* name : {StationLock::kLockName, StationLock::kSocketName}) {
            SCOPED_TRACE(name);
            EXPECT_EQ(fs::status(name).permissions() & fs::perms::all, fs::perms(0600));
        }
        StationLock second;
        EXPECT_FALSE(second.claim());  // the lock holds
    }
}
