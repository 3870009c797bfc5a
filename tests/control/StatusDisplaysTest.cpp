// The connection timer's caption and the playback animation's frames and
// stop rules, against a view that records what it was asked to show.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "control/ControlIds.h"
#include "control/SignalEvents.h"
#include "control/StatusDisplays.h"
#include "framework/threads/ThreadStarter.h"
#include "support/SignalEventsReset.h"
#include "support/TestSupport.h"

using namespace chatterly;
using chatterly::test::waitFor;

namespace {

// Records captions and pictures as the window would show them.
class RecordingView : public StationView {
  public:
    void enableControl(int, bool) override {}
    void setControlText(int id, const std::string& text) override {
        std::lock_guard lock(mutex);
        if (id == IDC_STATUS_BOX) {
            captions.push_back(text);
        }
    }
    std::string controlText(int) override { return {}; }
    void setWindowCaption(const std::string&) override {}
    void setChecked(int, bool) override {}
    bool isChecked(int) override { return false; }
    void showBitmap(int controlId, int bitmapId) override {
        std::lock_guard lock(mutex);
        if (controlId == IDC_SPEAKER) {
            frames.push_back(bitmapId);
        }
    }
    void bringToFront() override {}

    std::vector<int> shownFrames() {
        std::lock_guard lock(mutex);
        return frames;
    }
    std::vector<std::string> shownCaptions() {
        std::lock_guard lock(mutex);
        return captions;
    }

    std::mutex mutex;
    std::vector<int> frames;
    std::vector<std::string> captions;
};

}  // namespace

TEST(ConnectionTimer, CaptionShowsMinutesWithinTheHourAndSeconds) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "Connected 00:00"},    {59, "Connected 00:59"},   {65, "Connected 01:05"},
        {3599, "Connected 59:59"}, {3600, "Connected 00:00"}, {3723, "Connected 02:03"},
    };
    for (const auto& [t, caption] : cases) {
        EXPECT_EQ(StatusDisplays::timerCaption(t), caption) << t;
    }
}

TEST(ConnectionTimer, CountsFromItsStartByTheCalendarClockAndRestoresTheBoxCaption) {
    test::clearSignalEvents();
    auto view = std::make_shared<RecordingView>();
    std::atomic<int64_t> now{1000000};
    std::atomic<int> reads{0};
    auto displays = StatusDisplays::make(view, [&] {
        ++reads;
        return now.load();
    });
    displays->startConnectionTimer();
    // Several polls of a clock that stands still: the caption goes out once.
    ASSERT_TRUE(waitFor([&] { return reads >= 4; }, std::chrono::seconds(30)));
    EXPECT_EQ(view->shownCaptions(), std::vector<std::string>{"Connected 00:00"});
    now += 3723;
    ASSERT_TRUE(waitFor([&] { return view->shownCaptions().back() == "Connected 02:03"; }));
    EXPECT_EQ(view->shownCaptions().size(), 2u);
    displays->stopConnectionTimers();
    ASSERT_TRUE(waitFor([&] { return displays->timers().running() == 0; }));
    EXPECT_EQ(view->shownCaptions().back(), "Connection Status");
    EXPECT_FALSE(test::signalled(TimerStopEvent));  // the timer consumed its stop
}

TEST(ConnectionTimer, OneStopEndsEveryRunningTimer) {
    test::clearSignalEvents();
    auto view = std::make_shared<RecordingView>();
    auto displays = StatusDisplays::make(view);
    displays->startConnectionTimer();
    displays->startConnectionTimer();  // an outgoing and an incoming call's timers
    ASSERT_TRUE(waitFor([&] { return displays->timers().running() == 2; }));
    displays->stopConnectionTimers();
    EXPECT_TRUE(waitFor([&] { return displays->timers().running() == 0; }));
}

TEST(ConnectionTimer, AStartRightAfterAStopNeverLeavesTheOldTimerRunning) {
    test::clearSignalEvents();
    auto view = std::make_shared<RecordingView>();
    auto displays = StatusDisplays::make(view);
    displays->startConnectionTimer();
    ASSERT_TRUE(waitFor([&] { return !view->shownCaptions().empty(); }));
    displays->stopConnectionTimers();
    TimerStopEvent.reset();  // what a new call's Connect does before its timer starts
    displays->startConnectionTimer();
    // The old timer ends: only the new one runs.
    EXPECT_TRUE(waitFor([&] { return displays->timers().running() == 1; }));
    displays->stopConnectionTimers();
    EXPECT_TRUE(waitFor([&] { return displays->timers().running() == 0; }));
}

TEST(PlaybackAnimation, RunsTheFramesInOrderAndAlwaysEndsAtRest) {
    test::clearSignalEvents();
    auto view = std::make_shared<RecordingView>();
    auto displays = StatusDisplays::make(view);
    displays->PlaybackAnimation(true);
    ASSERT_TRUE(waitFor([&] { return view->shownFrames().size() >= 4; }, std::chrono::seconds(30)));
    displays->PlaybackAnimation(false);
    ASSERT_TRUE(waitFor([&] { return displays->animations().running() == 0; }));
    const auto frames = view->shownFrames();
    const int cycle[] = {IDB_SPEAKER_RING1, IDB_SPEAKER_RING2, IDB_SPEAKER_REST};
    for (size_t i = 0; i + 1 < frames.size(); ++i) {
        EXPECT_EQ(frames[i], cycle[i % 3]) << "frame " << i;
    }
    EXPECT_EQ(frames.back(), IDB_SPEAKER_REST);
}

// A message that ends while the first frame shows: the speaker rests only
// after the stop, and no second frame comes.
TEST(PlaybackAnimation, AStopDuringTheFirstFrameEndsItAtRestWithNoFurtherFrame) {
    test::clearSignalEvents();
    auto view = std::make_shared<RecordingView>();
    auto displays = StatusDisplays::make(view);
    displays->PlaybackAnimation(true);
    ASSERT_TRUE(waitFor([&] { return !view->shownFrames().empty(); }));
    constexpr int kStop = -1;  // where the stop comes among the frames
    view->showBitmap(IDC_SPEAKER, kStop);
    displays->PlaybackAnimation(false);
    ASSERT_TRUE(waitFor([&] { return displays->animations().running() == 0; }));
    EXPECT_EQ(view->shownFrames(), (std::vector<int>{IDB_SPEAKER_RING1, kStop, IDB_SPEAKER_REST}));
    // The stop was consumed by the thread it was meant for.
    EXPECT_FALSE(test::signalled(AnimationStopEvent));
}

TEST(PlaybackAnimation, APendingStopIsClearedByTheNextStart) {
    test::clearSignalEvents();
    auto view = std::make_shared<RecordingView>();
    auto displays = StatusDisplays::make(view);
    displays->PlaybackAnimation(false);  // no thread runs: the stop stays pending
    EXPECT_TRUE(test::signalled(AnimationStopEvent));
    displays->PlaybackAnimation(true);
    ASSERT_TRUE(waitFor([&] { return !view->shownFrames().empty(); }));
    EXPECT_EQ(view->shownFrames().front(), IDB_SPEAKER_RING1);
    displays->PlaybackAnimation(false);
    ASSERT_TRUE(waitFor([&] { return displays->animations().running() == 0; }));
}
