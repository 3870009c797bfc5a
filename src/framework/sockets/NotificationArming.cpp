#include "framework/sockets/NotificationArming.h"

#include <poll.h>
#include <sys/socket.h>

#include "framework/sockets/SocketErrors.h"
#include "framework/sockets/SocketProbe.h"
#include "framework/threads/MessageQueue.h"
#include "framework/threads/ThreadLoop.h"

namespace chatterly {

NotificationArming::NotificationArming(const void* source, Deliver deliver)
    : source_(source), deliver_(std::move(deliver)) {}

void NotificationArming::start(int fd, int events, bool connected) {
    fd_ = fd;
    events_ = events;
    loop_ = &ThreadLoop::current();
    queue_ = MessageQueue::currentShared();
    token_ = std::make_shared<NotificationArming*>(this);
    listening_ = false;
    connecting_ = false;
    connected_ = connected;
    readArmed_ = true;
    writeArmed_ = connected;
    oobArmed_ = true;
    acceptArmed_ = false;
    closeSent_ = false;
    resetError_ = 0;
    watched_ = -1;
    updateWatch();
}

void NotificationArming::stop() {
    if (watched_ >= 0) {
        loop_->unwatch(fd_);
    }
    watched_ = -1;
    if (queue_) {
        queue_->discard(source_);
    }
    if (token_) {
        *token_ = nullptr;
        token_.reset();
    }
    listening_ = connecting_ = connected_ = false;
    fd_ = -1;
}

void NotificationArming::listenStarted() {
    listening_ = true;
    acceptArmed_ = true;
    updateWatch();
}

void NotificationArming::connectStarted() {
    connecting_ = true;
    updateWatch();
}

void NotificationArming::connectCompleted() {
    connected_ = true;
    writeArmed_ = true;
    updateWatch();
}

void NotificationArming::sendWouldBlock() {
    writeArmed_ = true;
    updateWatch();
}

void NotificationArming::receiveTried(int resetError) {
    readArmed_ = true;
    oobArmed_ = true;
    if (resetError != 0) {
        resetError_ = resetError;
    }
    updateWatch();
}

void NotificationArming::acceptTried(bool outOfDescriptors) {
    acceptArmed_ = true;
    if (outOfDescriptors) {
        // The caller stays queued and keeps the socket readable, so
        // announcing it again at once would run the thread back to back.
        // Try again a little later.
        acceptArmed_ = false;
        std::weak_ptr<NotificationArming*> token = token_;
        loop_->callAfter(kAcceptRetryMs, [token] {
            if (auto t = token.lock(); t && *t) {
                (*t)->acceptArmed_ = true;
                (*t)->updateWatch();
            }
        });
    }
    updateWatch();
}

short NotificationArming::watchedEvents() const {
    if (listening_) {
        return acceptArmed_ && (events_ & FD_ACCEPT) ? POLLIN : 0;
    }
    if (connecting_) {
        return POLLOUT;
    }
    if (!connected_) {
        return 0;
    }
    short events = 0;
    if (readArmed_ && !closeSent_ && (events_ & FD_READ)) {
        events |= POLLIN;
    }
    if (writeArmed_ && (events_ & FD_WRITE)) {
        events |= POLLOUT;
    }
    if (oobArmed_ && !closeSent_ && (events_ & FD_OOB)) {
        events |= POLLPRI;
    }
    return events;
}

void NotificationArming::updateWatch() {
    if (fd_ < 0 || !loop_) {
        return;
    }
    const short events = watchedEvents();
    if (events == watched_) {
        return;
    }
    watched_ = events;
    std::weak_ptr<NotificationArming*> token = token_;
    loop_->watch(fd_, events, [token](short revents) {
        if (auto t = token.lock(); t && *t) {
            (*t)->onReady(revents);
        }
    });
}

void NotificationArming::onReady(short revents) {
    if (listening_) {
        if (acceptArmed_) {
            acceptArmed_ = false;
            post(FD_ACCEPT, 0);
        }
    } else if (connecting_) {
        int error = 0;
        socklen_t size = sizeof error;
        getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
        connecting_ = false;
        if (error == 0) {
            connected_ = true;
            writeArmed_ = true;
        }
        if (events_ & FD_CONNECT) {
            post(FD_CONNECT, socketErrorFromErrno(error));
        }
    } else if (connected_) {
        if ((revents & (POLLIN | POLLERR | POLLHUP)) && readArmed_ && !closeSent_) {
            int reset = 0;
            switch (SocketProbe::look(fd_, reset)) {
                case SocketProbe::Holds::Bytes:
                    readArmed_ = false;
                    post(FD_READ, 0);
                    break;
                case SocketProbe::Holds::Closed:
                    // A reset's error, taken from the socket by the look, is
                    // kept for the receives that follow.
                    if (reset != 0) {
                        resetError_ = reset;
                    }
                    closeSent_ = true;
                    if (events_ & FD_CLOSE) {
                        post(FD_CLOSE, resetError_);
                    }
                    break;
                case SocketProbe::Holds::Nothing:
                    break;
            }
        }
        if ((revents & POLLOUT) && writeArmed_) {
            writeArmed_ = false;
            post(FD_WRITE, 0);
        }
        if ((revents & POLLPRI) && oobArmed_) {
            oobArmed_ = false;
            post(FD_OOB, 0);
        }
    }
    updateWatch();
}

void NotificationArming::post(int event, int error) {
    Message message;
    message.kind = Message::Kind::Network;
    message.source = source_;
    message.event = event;
    message.error = error;
    // A caller waiting to be taken or refused is answered whatever the
    // thread is busy with: a listener's notification is never held.
    message.exempt = event == FD_ACCEPT;
    std::weak_ptr<NotificationArming*> token = token_;
    message.handler = [token, event, error] {
        if (auto t = token.lock(); t && *t) {
            (*t)->dispatch(event, error);
        }
    };
    queue_->post(std::move(message));
}

void NotificationArming::dispatch(int event, int error) {
    switch (event) {
        case FD_READ:
            if (SocketProbe::hasBytes(fd_)) {
                deliver_(event, error);
            } else {
                // Someone read the bytes already: listen for the next ones.
                readArmed_ = true;
                updateWatch();
            }
            break;
        case FD_ACCEPT:
        case FD_CLOSE:
            deliver_(event, error);
            break;
        default:
            break;
    }
}

}  // namespace chatterly
