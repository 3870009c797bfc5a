// One station per working directory: a second start finds the first and
// pokes it, also when the first is still starting or left a stale socket; the
// requests on its socket, from its own user only.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <vector>

#include "app/StationLock.h"
#include "support/TalkClient.h"
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

namespace {

// A client of the station's socket: sends bytes (then closes its side when
// asked) and reads what comes back until the station closes.
std::string exchange(const std::string& bytes, bool thenClose) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, StationLock::kSocketName);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (thenClose) {
            ::shutdown(fd, SHUT_WR);
        }
        timeval limit{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char got[256];
        for (ssize_t n; (n = ::recv(fd, got, sizeof got, 0)) > 0;) {
            reply.append(got, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return reply;
}

// chatterly --talk: its exit code and its line.
std::pair<int, std::string> talk() {
    const test::TalkResult result = test::runBeside([] { return test::startTalkCommand().get(); });
    return {result.code, result.line};
}

}  // namespace

// Each request is one line; what is not a whole known request acts on nothing,
// and no client holds the station: it answers the next one.
TEST(StationLock, RequestsAreOneLineAndNoClientHoldsTheStation) {
    struct Row {
        const char* what;
        std::string bytes;
        bool thenClose;
        const char* reply;
        int pokes;
    };
    const Row rows[] = {
        {"a bare connection", "", true, "", 1},
        {"the talk request", "talk\n", false, "recording\n", 0},
        {"binary garbage", std::string("\0\xff\x13talk\n", 8), false, "unknown request\n", 0},
        {"a part of a line, then closed", "tal", true, "", 0},
        {"an overlong line", std::string(300, 't') + '\n', false, "", 0},
        {"a silent open connection", "", false, "", 0},
    };
    ScratchDirectory dir;
    EXPECT_EQ(talk(), std::pair(1, std::string("no station\n")));
    int pokes = 0;
    int talks = 0;
    StationLock lock;
    ASSERT_TRUE(lock.claim());
    lock.listen([&] { ++pokes; },
                [&] {
                    ++talks;
                    return std::string("recording");
                });
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        pokes = talks = 0;
        EXPECT_EQ(test::runBeside([&] { return exchange(row.bytes, row.thenClose); }), row.reply);
        EXPECT_TRUE(waitFor([&] { return lock.clients() == 0; }));
        EXPECT_EQ(pokes, row.pokes);
        EXPECT_EQ(talks, std::string(row.reply) == "recording\n" ? 1 : 0);
        EXPECT_EQ(talk(), std::pair(0, std::string("recording\n")));
    }

    // A flood of silent connections: a bounded number is served, the rest
    // closed at once; once they have gone the station answers.
    auto flood = test::runBeside([] {
        std::vector<std::future<std::string>> clients;
        for (int i = 0; i < 40; ++i) {
            clients.push_back(std::async(std::launch::async, [] { return exchange("", false); }));
        }
        return clients;
    });
    EXPECT_LE(lock.clients(), StationRequests::kMaxClients);
    for (auto& client : flood) {
        EXPECT_EQ(test::runBeside([&] { return client.get(); }), "");
    }
    EXPECT_EQ(talk(), std::pair(0, std::string("recording\n")));
}

// Only the station's user is served: another user's request (the socket
// opened to all, so that it can be reached at all) is refused and does nothing.
TEST(StationLock, AnotherUsersRequestIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    ScratchDirectory dir;
    int talks = 0;
    StationLock lock;
    ASSERT_TRUE(lock.claim());
    lock.listen([] {},
                [&] {
                    ++talks;
                    return std::string("recording");
                });
    ASSERT_EQ(::chmod(".", 0711), 0);
    ASSERT_EQ(::chmod(StationLock::kSocketName, 0666), 0);
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    const pid_t child = ::fork();
    if (child == 0) {
        const bool other = ::setgid(gid) == 0 && ::setuid(uid) == 0;
        _exit(other && exchange("talk\n", false) == "refused\n" ? 0 : 1);
    }
    int status = -1;
    EXPECT_TRUE(waitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(talks, 0);
}
