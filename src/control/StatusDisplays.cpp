#include "control/StatusDisplays.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "control/ControlIds.h"
#include "control/SignalEvents.h"
#include "framework/threads/ThreadStarter.h"
#include "framework/threads/WindowRequests.h"

namespace chatterly {
namespace {

constexpr auto kPeriod = std::chrono::milliseconds(500);

}  // namespace

std::shared_ptr<StatusDisplays> StatusDisplays::make(std::shared_ptr<StationView> view,
                                                     Clock clock) {
    return std::shared_ptr<StatusDisplays>(new StatusDisplays(std::move(view), std::move(clock)));
}

StatusDisplays::StatusDisplays(std::shared_ptr<StationView> view, Clock clock)
    : view_(std::move(view)), clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = [] { return static_cast<int64_t>(std::time(nullptr)); };
    }
}

std::string StatusDisplays::timerCaption(int32_t t) {
    const int32_t minutes = t / 60 - (t / 3600) * 60;
    const int32_t seconds = t - (t / 60) * 60;
    char text[40];
    std::snprintf(text, sizeof text, "Connected %02d:%02d", minutes, seconds);
    return text;
}

void StatusDisplays::startConnectionTimer() {
    const uint64_t epoch = timers_.enter();
    auto self = shared_from_this();
    if (!ThreadStarter::start([self, epoch] { self->ConnectionTimerThread(epoch); })) {
        timers_.leave(epoch);  // no thread, no time shown: nothing is left behind
    }
}

void StatusDisplays::stopConnectionTimers() {
    TimerStopEvent.set();
    timers_.stopAll();
}

void StatusDisplays::ConnectionTimerThread(uint64_t epoch) {
    const int64_t start = clock_();
    std::string shown;
    for (;;) {
        // Poll the event first: a stop consumes the signal, as the event's
        // other users expect, even when the epoch alone would end the thread.
        if (TimerStopEvent.poll() || timers_.stale(epoch)) {
            break;
        }
        // The caption changes once a second and is polled twice: only a
        // change goes to the window, so an idle call costs no repaint.
        std::string caption = timerCaption(static_cast<int32_t>(clock_() - start));
        if (caption != shown) {
            view_->setControlText(IDC_STATUS_BOX, caption);
            shown = std::move(caption);
        }
        timers_.sleep(epoch, kPeriod);
    }
    putBack(timers_, epoch, [this] { view_->setControlText(IDC_STATUS_BOX, "Connection Status"); });
    timers_.leave(epoch);
}

void StatusDisplays::PlaybackAnimation(bool start) {
    if (!start) {
        AnimationStopEvent.set();
        animations_.stopAll();
        return;
    }
    AnimationStopEvent.reset();
    const uint64_t epoch = animations_.enter();
    auto self = shared_from_this();
    if (!ThreadStarter::start([self, epoch] { self->PlaybackAnimationThread(epoch); })) {
        animations_.leave(epoch);  // the message plays without the moving speaker
    }
}

void StatusDisplays::stopAnimations() {
    animations_.stopAll();
}

void StatusDisplays::PlaybackAnimationThread(uint64_t epoch) {
    auto stopped = [&] { return AnimationStopEvent.poll() || animations_.stale(epoch); };
    if (!stopped()) {
        static constexpr int kFrames[] = {IDB_SPEAKER_RING1, IDB_SPEAKER_RING2, IDB_SPEAKER_REST};
        for (int frame = 0;; frame = (frame + 1) % 3) {
            view_->showBitmap(IDC_SPEAKER, kFrames[frame]);
            std::this_thread::sleep_for(kPeriod);
            if (stopped()) {
                break;
            }
        }
    }
    putBack(animations_, epoch, [this] { view_->showBitmap(IDC_SPEAKER, IDB_SPEAKER_REST); });
    animations_.leave(epoch);
}

void StatusDisplays::putBack(const StopGroup& group, uint64_t epoch,
                             const std::function<void()>& put) {
    WindowRequests::run([&] {
        if (!group.newerRunning(epoch)) {
            put();
        }
    });
}

}  // namespace chatterly
