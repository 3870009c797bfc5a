#pragma once
// Returns the five process-wide signal events to non-signalled, as at start,
// and looks at one without changing it.

#include "control/SignalEvents.h"

namespace chatterly::test {

inline void clearSignalEvents() {
    for (auto* e : {&TalkStartEvent, &TalkStopEvent, &DisconnectEvent, &TimerStopEvent,
                    &AnimationStopEvent}) {
        e->reset();
    }
}

// Whether e is signalled, seen through its poll: a signal the poll takes is
// set again, so the look leaves the event as it found it.
inline bool signalled(AutoResetEvent& e) {
    if (!e.poll()) {
        return false;
    }
    e.set();
    return true;
}

}  // namespace chatterly::test
