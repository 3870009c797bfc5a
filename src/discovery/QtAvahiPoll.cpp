#include "discovery/QtAvahiPoll.h"

#include <sys/time.h>

#include <avahi-common/timeval.h>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace {

// How many of Avahi's callbacks run now. A watch or timeout freed inside one
// (Avahi may free the very one that called it) is deleted once the event
// loop has left it; one freed outside (at the client's end) goes at once.
int callbacksRunning = 0;

struct InCallback {
    InCallback() { ++callbacksRunning; }
    ~InCallback() { --callbacksRunning; }
    InCallback(const InCallback&) = delete;
    InCallback& operator=(const InCallback&) = delete;
};

void release(QObject* object) {
    if (callbacksRunning > 0) {
        object->deleteLater();
    } else {
        delete object;
    }
}

}  // namespace

// Avahi declares these two as opaque types: each poll implementation defines
// them.

struct AvahiWatch : QObject {
    AvahiWatch(int fd, AvahiWatchEvent events, AvahiWatchCallback callback, void* userdata)
        : fd(fd), callback(callback), userdata(userdata) {
        update(events);
    }

    void update(AvahiWatchEvent wanted) {
        events = wanted;
        arm(read, QSocketNotifier::Read, AVAHI_WATCH_IN);
        arm(write, QSocketNotifier::Write, AVAHI_WATCH_OUT);
        // Errors and hang-ups come with readiness: a notifier for them too,
        // since Avahi may ask for them alone.
        arm(error, QSocketNotifier::Exception,
            static_cast<AvahiWatchEvent>(AVAHI_WATCH_ERR | AVAHI_WATCH_HUP));
    }

    void arm(std::unique_ptr<QSocketNotifier>& notifier, QSocketNotifier::Type type,
             AvahiWatchEvent event) {
        if (!(events & event)) {
            if (notifier) {
                notifier->setEnabled(false);
            }
            return;
        }
        if (!notifier) {
            notifier = std::make_unique<QSocketNotifier>(fd, type);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, this,
                             [this, event] { fire(event); });
        }
        notifier->setEnabled(true);
    }

    void fire(AvahiWatchEvent event) {
        if (freed) {
            return;
        }
        happened = event;
        const InCallback running;
        callback(this, fd, event, userdata);
        happened = static_cast<AvahiWatchEvent>(0);
    }

    const int fd;
    const AvahiWatchCallback callback;
    void* const userdata;
    AvahiWatchEvent events{};
    AvahiWatchEvent happened{};
    bool freed = false;
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
    std::unique_ptr<QSocketNotifier> error;
};

struct AvahiTimeout : QObject {
    AvahiTimeout(const timeval* when, AvahiTimeoutCallback callback, void* userdata)
        : callback(callback), userdata(userdata) {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, this, [this] {
            if (!freed) {
                const InCallback running;
                this->callback(this, this->userdata);
            }
        });
        update(when);
    }

    void update(const timeval* when) {
        if (!when) {
            timer.stop();
            return;
        }
        // Avahi gives an absolute time of day; how far off it is, in ms.
        const AvahiUsec usec = avahi_age(when);  // negative while it lies ahead
        const long long ms = usec >= 0 ? 0 : (-usec + 999) / 1000;
        timer.start(static_cast<int>(std::min<long long>(ms, 24LL * 3600 * 1000)));
    }

    const AvahiTimeoutCallback callback;
    void* const userdata;
    QTimer timer;
    bool freed = false;
};

namespace chatterly {
namespace {

AvahiWatch* watchNew(const AvahiPoll*, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                     void* userdata) {
    return new AvahiWatch(fd, events, callback, userdata);
}

void watchUpdate(AvahiWatch* w, AvahiWatchEvent events) {
    w->update(events);
}

AvahiWatchEvent watchGetEvents(AvahiWatch* w) {
    return w->happened;
}

void watchFree(AvahiWatch* w) {
    w->freed = true;
    w->update(static_cast<AvahiWatchEvent>(0));
    release(w);
}

AvahiTimeout* timeoutNew(const AvahiPoll*, const timeval* when, AvahiTimeoutCallback callback,
                         void* userdata) {
    return new AvahiTimeout(when, callback, userdata);
}

void timeoutUpdate(AvahiTimeout* t, const timeval* when) {
    t->update(when);
}

void timeoutFree(AvahiTimeout* t) {
    t->freed = true;
    t->timer.stop();
    release(t);
}

}  // namespace

QtAvahiPoll::QtAvahiPoll() {
    poll_.userdata = this;
    poll_.watch_new = watchNew;
    poll_.watch_update = watchUpdate;
    poll_.watch_get_events = watchGetEvents;
    poll_.watch_free = watchFree;
    poll_.timeout_new = timeoutNew;
    poll_.timeout_update = timeoutUpdate;
    poll_.timeout_free = timeoutFree;
}

}  // namespace chatterly
