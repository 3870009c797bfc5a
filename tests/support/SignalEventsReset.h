#pragma once
// Returns the five process-wide signal events to non-signalled, as at start.

#include "control/SignalEvents.h"

namespace chatterly::test {

inline void clearSignalEvents() {
    for (auto* e : {&TalkStartEvent, &TalkStopEvent, &DisconnectEvent, &TimerStopEvent,
                    &AnimationStopEvent}) {
        e->reset();
    }
}

}  // namespace chatterly::test
