#pragma once
// One station per working directory: a station keeps its files there by
// relative names, and a second one would fail to listen and, at its exit,
// delete the first one's recording. The first station holds a lock on
// ".chatterly.lock" for its lifetime and listens on the local socket
// ".chatterly.sock" beside it; a second start finds the lock taken, pokes the
// socket, and the first brings its window forward. A directory where neither
// can be made (read-only) runs its station without the lock. Both files are
// the user's alone (0600), and neither is ever made through a link put under
// its name. What the socket serves is StationRequests'.

#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>

#include "app/StationRequests.h"

namespace chatterly {

class StationLock {
  public:
    static constexpr const char* kLockName = ".chatterly.lock";
    static constexpr const char* kSocketName = ".chatterly.sock";

    StationLock() = default;
    ~StationLock();
    StationLock(const StationLock&) = delete;
    StationLock& operator=(const StationLock&) = delete;

    // Takes the lock of the working directory. False when another station
    // holds it; that one has then been asked to show its window.
    bool claim();

    // GUI thread, after claim(): each poke of a later start runs onPoke;
    // each talk request runs onTalk, whose text is the reply.
    void listen(std::function<void()> onPoke, std::function<std::string()> onTalk = {});

    // Connections served now (at most StationRequests::kMaxClients).
    std::size_t clients() const { return requests_ ? requests_->clients() : 0; }

  private:
    void accept();

    int lock_ = -1;
    int socket_ = -1;
    bool bound_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<StationRequests> requests_;
};

}  // namespace chatterly
