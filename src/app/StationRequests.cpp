#include "app/StationRequests.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>

namespace chatterly {
namespace {

bool sameUser(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           peer.uid == ::geteuid();
}

// The reply fits the socket's buffer of a fresh connection, so it is sent
// without waiting; a client that cannot take it loses it.
void reply(int fd, std::string line) {
    line.resize(std::min(line.size(), StationRequests::kMaxLine - 1));
    line += '\n';
    (void)::send(fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

}  // namespace

struct StationRequests::Client {
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<QTimer> deadline = std::make_unique<QTimer>();
    std::string line;

    explicit Client(int fd)
        : notifier(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read)) {}
    // From the client's own notifier or timer: they go once their signal
    // has returned.
    void release() {
        notifier->setEnabled(false);
        deadline->stop();
        notifier.release()->deleteLater();
        deadline.release()->deleteLater();
    }
};

StationRequests::StationRequests(Handlers handlers) : handlers_(std::move(handlers)) {}

StationRequests::~StationRequests() {
    for (auto& [fd, client] : clients_) {
        client.reset();  // its notifier goes before its descriptor
        ::close(fd);
    }
}

void StationRequests::serve(int fd) {
    if (clients_.size() >= kMaxClients) {
        ::close(fd);
        return;
    }
    if (!sameUser(fd)) {
        reply(fd, "refused");
        ::close(fd);
        return;
    }
    auto client = std::make_unique<Client>(fd);
    QObject::connect(client->notifier.get(), &QSocketNotifier::activated, [this, fd] { read(fd); });
    // A client that keeps its connection open without a whole request is
    // closed; it pokes nothing.
    client->deadline->setSingleShot(true);
    QObject::connect(client->deadline.get(), &QTimer::timeout, [this, fd] { drop(fd); });
    client->deadline->start(kDeadline);
    clients_.emplace(fd, std::move(client));
}

void StationRequests::read(int fd) {
    const auto found = clients_.find(fd);
    if (found == clients_.end()) {
        return;
    }
    std::string& line = found->second->line;
    char bytes[kMaxLine];
    const ssize_t got = ::recv(fd, bytes, kMaxLine - line.size(), MSG_DONTWAIT);
    if (got < 0) {
        if (errno != EAGAIN && errno != EINTR) {
            drop(fd);
        }
        return;
    }
    if (got == 0) {
        // Closed: with nothing sent, it is a poke; a part of a line is nothing.
        const bool poke = line.empty();
        drop(fd);
        if (poke && handlers_.poke) {
            handlers_.poke();
        }
        return;
    }
    line.append(bytes, static_cast<std::size_t>(got));
    const std::size_t end = line.find('\n');
    if (end != std::string::npos) {
        answer(fd, line.substr(0, end));
    } else if (line.size() >= kMaxLine) {
        drop(fd);  // longer than any request
    }
}

void StationRequests::answer(int fd, const std::string& request) {
    // The connection goes before the handler runs: a handler that waits
    // (a box about the recorder) leaves no client behind to read again.
    clients_.extract(fd).mapped()->release();
    std::string text = "unknown request";
    if (request == kTalk && handlers_.talk) {
        text = handlers_.talk();
    }
    reply(fd, text);
    ::close(fd);
}

void StationRequests::drop(int fd) {
    const auto found = clients_.find(fd);
    if (found == clients_.end()) {
        return;
    }
    found->second->release();
    clients_.erase(found);
    ::close(fd);
}

}  // namespace chatterly
