#include "app/TalkCommand.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "app/StationLock.h"
#include "app/StationRequests.h"

namespace chatterly {
namespace {

// The station's reply line (without '\n'), or none when it gave none
// within limit.
std::optional<std::string> replyOf(int fd, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::string line;
    while (line.size() < StationRequests::kMaxLine) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd watched{fd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        char bytes[StationRequests::kMaxLine];
        const ssize_t got = ::recv(fd, bytes, sizeof bytes - line.size(), 0);
        if (got <= 0) {
            break;
        }
        line.append(bytes, static_cast<std::size_t>(got));
        const std::size_t newline = line.find('\n');
        if (newline != std::string::npos) {
            return line.substr(0, newline);
        }
    }
    return line.empty() ? std::nullopt : std::optional<std::string>(line);
}

bool toggled(const std::string& reply) {
    return reply == "recording" || reply == "sent" || reply == "queued";
}

}  // namespace

int TalkCommand::run(std::FILE* out, std::FILE* err, std::chrono::milliseconds limit) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::fprintf(err, "no station\n");
        return 1;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, StationLock::kSocketName, sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        std::fprintf(err, "no station\n");
        return 1;
    }
    const std::string request = std::string(StationRequests::kTalk) + '\n';
    std::optional<std::string> reply;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
        reply = replyOf(fd, limit);
    }
    ::close(fd);
    if (!reply) {
        std::fprintf(err, "no answer from the station\n");
        return 1;
    }
    std::fprintf(toggled(*reply) ? out : err, "%s\n", reply->c_str());
    return toggled(*reply) ? 0 : 1;
}

}  // namespace chatterly
