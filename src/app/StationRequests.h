#pragma once
// The requests a station takes on its local socket (".chatterly.sock"), one
// line each way. A client sends one request line of at most kMaxLine bytes
// ending in '\n' and reads one reply line; a client that closes without
// sending anything pokes the station (a later start asks it to show its
// window). The station side never blocks the GUI thread on a client: each
// accepted connection is read when its notifier says so, closed after
// kDeadline without a whole line, and at most kMaxClients are served at once
// (more are closed as they come). Only the station's own user is served: any
// other peer (SO_PEERCRED) is answered "refused" and closed. GUI thread.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace chatterly {

class StationRequests {
  public:
    static constexpr std::size_t kMaxLine = 64;  // a request or reply, '\n' included
    static constexpr std::size_t kMaxClients = 8;
    static constexpr std::chrono::milliseconds kDeadline{1000};
    static constexpr const char* kTalk = "talk";  // the request of "chatterly --talk"

    struct Handlers {
        std::function<void()> poke;
        std::function<std::string()> talk;  // returns the reply line, without '\n'
    };

    explicit StationRequests(Handlers handlers);
    ~StationRequests();
    StationRequests(const StationRequests&) = delete;
    StationRequests& operator=(const StationRequests&) = delete;

    // Takes an accepted connection (its descriptor becomes ours).
    void serve(int fd);
    // Connections served now.
    std::size_t clients() const { return clients_.size(); }

  private:
    struct Client;

    void read(int fd);
    void answer(int fd, const std::string& request);
    void drop(int fd);

    Handlers handlers_;
    std::map<int, std::unique_ptr<Client>> clients_;
};

}  // namespace chatterly
