#pragma once
// The status displays: the connection timer in the "Connection Status" box
// and the speaker animation while a voice message plays. Each runs on a
// worker thread of its own that polls its stop event every 500 ms and changes
// its control through window requests.
//
// Held by shared pointer: the threads keep it (and the window proxy) alive
// for as long as they run, which may be past the window's end.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "control/StationView.h"
#include "control/StopGroup.h"

namespace chatterly {

class StatusDisplays : public std::enable_shared_from_this<StatusDisplays> {
  public:
    // Calendar time in whole seconds (the system's time of day).
    using Clock = std::function<int64_t()>;

    static std::shared_ptr<StatusDisplays> make(std::shared_ptr<StationView> view,
                                                Clock clock = nullptr);

    // The timer's caption for t elapsed seconds: "Connected %M:%S".
    static std::string timerCaption(int32_t t);

    // Starts a ConnectionTimerThread on the status box.
    void startConnectionTimer();
    // Sets TimerStopEvent and ends every running timer.
    void stopConnectionTimers();

    // true: reset AnimationStopEvent and start a PlaybackAnimationThread;
    // false: set AnimationStopEvent and return at once.
    void PlaybackAnimation(bool start);
    // Ends every running animation (Disconnect).
    void stopAnimations();

    const StopGroup& timers() const { return timers_; }
    const StopGroup& animations() const { return animations_; }

  private:
    StatusDisplays(std::shared_ptr<StationView> view, Clock clock);
    // An ending thread of group puts its control back with put, on the GUI
    // thread, unless a newer thread of its kind runs by then.
    void putBack(const StopGroup& group, uint64_t epoch, const std::function<void()>& put);
    void ConnectionTimerThread(uint64_t epoch);
    void PlaybackAnimationThread(uint64_t epoch);

    std::shared_ptr<StationView> view_;
    Clock clock_;
    StopGroup timers_;
    StopGroup animations_;
};

}  // namespace chatterly
