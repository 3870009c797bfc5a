#include "app/StationLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace chatterly {
namespace {

// The socket's name is relative, so a working directory of any length works.
sockaddr_un socketAddress() {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, StationLock::kSocketName, sizeof addr.sun_path - 1);
    return addr;
}

// Asks the station holding the lock to show its window. It may be starting
// and not yet listening: a few tries over about two seconds.
void poke() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return;
        }
        const sockaddr_un addr = socketAddress();
        const bool reached =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        if (reached) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace

StationLock::~StationLock() {
    notifier_.reset();
    requests_.reset();
    if (socket_ >= 0) {
        ::close(socket_);
    }
    if (bound_) {
        ::unlink(kSocketName);
    }
    if (lock_ >= 0) {
        ::close(lock_);  // releases the lock
    }
}

bool StationLock::claim() {
    // The lock file is the station's own: never opened through a link (one
    // put in its place is removed), and the user's alone.
    for (int attempt = 0; attempt < 2 && lock_ < 0; ++attempt) {
        lock_ = ::open(kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (lock_ < 0 && errno == ELOOP) {
            ::unlink(kLockName);
        }
    }
    if (lock_ < 0) {
        return true;
    }
    (void)::fchmod(lock_, 0600);
    if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(lock_);
        lock_ = -1;
        if (held) {
            poke();
        }
        return !held;
    }
    return true;
}

void StationLock::listen(std::function<void()> onPoke, std::function<std::string()> onTalk) {
    if (lock_ < 0 || socket_ >= 0) {
        return;
    }
    requests_ = std::make_unique<StationRequests>(
        StationRequests::Handlers{std::move(onPoke), std::move(onTalk)});
    socket_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        return;
    }
    // A socket left by a station that ended without its clean-up is stale:
    // the lock says no station uses it.
    ::unlink(kSocketName);
    const sockaddr_un addr = socketAddress();
    // Only the user may reach the socket: it is made 0600.
    const mode_t previous = ::umask(0177);
    const bool bound = ::bind(socket_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::umask(previous);
    if (!bound || ::listen(socket_, 4) != 0) {
        ::close(socket_);
        socket_ = -1;
        return;
    }
    bound_ = true;
    notifier_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { accept(); });
}

void StationLock::accept() {
    for (;;) {
        const int fd = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            return;
        }
        requests_->serve(fd);
    }
}

}  // namespace chatterly
