#pragma once
// What the history window asks of the station: playing kept messages through
// the station's own playback (the speaker picture animates, a stop gesture
// interrupts at once, never two messages at once), stopping them, the
// "hold messages" setting and the speed messages play at. GUI thread.

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

    // The speeds a message plays at from the history, pitch kept, slowest
    // first: how many times faster than recorded.
    static constexpr double kSpeeds[] = {1.0, 1.25, 1.5, 2.0};
    virtual double speed() const = 0;
    virtual void setSpeed(double speed) = 0;
    // Received messages play at that speed too, not as recorded.
    virtual bool speedForLive() const = 0;
    virtual void setSpeedForLive(bool on) = 0;
};

}  // namespace chatterly
