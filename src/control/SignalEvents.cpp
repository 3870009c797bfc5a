#include "control/SignalEvents.h"

namespace chatterly {

AutoResetEvent TalkStartEvent;
AutoResetEvent TalkStopEvent;
AutoResetEvent DisconnectEvent;
AutoResetEvent TimerStopEvent;
AutoResetEvent AnimationStopEvent;

}  // namespace chatterly
