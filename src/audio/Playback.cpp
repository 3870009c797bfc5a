#include "audio/Playback.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

#include "audio/PulseOutput.h"
#include "audio/SpeedChange.h"
#include "audio/WavDecoder.h"
#include "framework/threads/ThreadLoop.h"
#include "framework/threads/WindowRequests.h"

namespace chatterly {
namespace {

std::atomic<uint64_t> stops{0};        // stopMessages() calls so far
std::atomic<int64_t> messageStart{0};  // steady-clock ticks; 0: none yet
std::atomic<double> messageSpeed{1.0};

// Held while a voice message plays.
std::mutex& voiceLock() {
    static std::mutex m;
    return m;
}

std::mutex& guiWaitLock() {
    static std::mutex m;
    return m;
}
Playback::GuiWait& guiWait() {
    static Playback::GuiWait wait;
    return wait;
}

// A sink that notes when the first samples go out.
class TimedSink : public SoundSink {
  public:
    explicit TimedSink(SoundSink& inner) : inner_(inner) {}
    bool open(uint32_t rate, uint8_t channels) override { return inner_.open(rate, channels); }
    bool write(const int16_t* samples, size_t count) override {
        if (!started_) {
            started_ = true;
            messageStart = std::chrono::steady_clock::now().time_since_epoch().count();
        }
        return inner_.write(samples, count);
    }
    bool finish(bool stopped) override { return inner_.finish(stopped); }

  private:
    SoundSink& inner_;
    bool started_ = false;
};

// Runs play() to its end. On the GUI thread it runs on a helper thread while
// the GUI thread waits in the installed GUI wait (by default serving window
// requests, and nothing else).
bool playSynchronously(const std::function<bool()>& play) {
    if (!WindowRequests::isGuiThread()) {
        return play();
    }
    std::atomic<bool> done{false};
    bool played = false;
    std::thread player;
    try {
        player = std::thread([&] {
            played = play();
            done = true;
            // Wake the GUI thread's event loop if it sleeps in it.
            if (QCoreApplication* app = QCoreApplication::instance()) {
                QMetaObject::invokeMethod(
                    app, [] {}, Qt::QueuedConnection);
            }
        });
    } catch (const std::system_error&) {
        return false;  // no thread to play on: the sound cannot be played
    }
    Playback::GuiWait wait;
    {
        std::lock_guard lock(guiWaitLock());
        wait = guiWait();
    }
    const auto isDone = [&] { return done.load(); };
    if (wait) {
        wait(isDone);
    } else {
        // Window requests only; the player's end wakes no request wait, so
        // look at it often.
        ThreadLoop::Pump requestsOnly;
        requestsOnly.runs = ThreadLoop::Pump::Runs::Nothing;
        requestsOnly.pass = std::chrono::milliseconds(10);
        ThreadLoop::current().pumpUntil(isDone, std::nullopt, requestsOnly);
    }
    player.join();
    return played;
}

}  // namespace

Playback::Outcome Playback::playMessage(const void* image, size_t length, double speed) {
    bool stopped = false;
    const bool played = playSynchronously([&] {
        std::lock_guard voice(voiceLock());
        const uint64_t startedAt = stops.load();
        messageSpeed = speed;
        PulseOutput output("voice message");
        SpeedChange faster(output, speed);
        TimedSink timed(faster);
        const bool decoded =
            WavDecoder::decode(image, length, timed, [&] { return stops.load() != startedAt; });
        stopped = stops.load() != startedAt;
        return decoded;
    });
    if (!played) {
        return Outcome::Failed;
    }
    return stopped ? Outcome::Stopped : Outcome::Played;
}

bool Playback::PlayVoiceMessage(const void* image, size_t length) {
    return playMessage(image, length) != Outcome::Failed;
}

bool Playback::playFile(const std::string& fileName) {
    return playSynchronously([&] {
        PulseOutput output(fileName.c_str());
        return WavDecoder::decodeFile(fileName, output);
    });
}

void Playback::stopMessages() {
    ++stops;
}

void Playback::setGuiWait(GuiWait wait) {
    std::lock_guard lock(guiWaitLock());
    guiWait() = std::move(wait);
}

std::optional<std::chrono::steady_clock::time_point> Playback::lastMessageStart() {
    const int64_t ticks = messageStart.load();
    if (ticks == 0) {
        return std::nullopt;
    }
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks));
}

double Playback::lastMessageSpeed() {
    return messageSpeed.load();
}

void Playback::PlayCallWaitingCue() {
    playFile("CallWaiting.wav");
}

}  // namespace chatterly
