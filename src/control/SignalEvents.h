#pragma once
// The five process-wide signal events through which the call controller
// coordinates its worker threads. Unnamed, auto-reset, non-signalled at
// start, and made during static initialisation.

#include "framework/threads/AutoResetEvent.h"

namespace chatterly {

extern AutoResetEvent TalkStartEvent;
extern AutoResetEvent TalkStopEvent;
extern AutoResetEvent DisconnectEvent;
extern AutoResetEvent TimerStopEvent;
extern AutoResetEvent AnimationStopEvent;

}  // namespace chatterly
