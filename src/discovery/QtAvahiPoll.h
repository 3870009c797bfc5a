#pragma once
// Avahi's event loop interface (AvahiPoll) made of the GUI thread's own
// socket notifiers and timers, so that the Avahi client's callbacks run on
// the GUI thread between the window's other events, and everything they
// touch (the found stations, the window) needs no lock. Make it, and use it,
// on the GUI thread only; it must outlive every Avahi object made with it.

#include <avahi-common/watch.h>

namespace chatterly {

class QtAvahiPoll {
  public:
    QtAvahiPoll();
    QtAvahiPoll(const QtAvahiPoll&) = delete;
    QtAvahiPoll& operator=(const QtAvahiPoll&) = delete;

    const AvahiPoll* poll() const { return &poll_; }

  private:
    AvahiPoll poll_{};
};

}  // namespace chatterly
