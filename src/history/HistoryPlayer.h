#pragma once
// What the history window asks of the station: playing kept messages through
// the station's own playback (the speaker picture animates, a stop gesture
// interrupts at once, never two messages at once), stopping them, and the
// "hold messages" setting. GUI thread.

#include <cstdint>
#include <vector>

namespace chatterly {

class HistoryPlayer {
  public:
    virtual ~HistoryPlayer() = default;
    // Plays the messages one after another, in the order given, and returns
    // when the last has ended or a stop ended the run. A message played to
    // its end is marked played by the station.
    virtual void playMessages(const std::vector<int64_t>& ids) = 0;
    // Ends what plays now (a run of messages ends with it).
    virtual void stopMessages() = 0;
    virtual bool holdMessages() const = 0;
    virtual void setHoldMessages(bool hold) = 0;
};

}  // namespace chatterly
