#include "net/BusyResponder.h"

#include <atomic>
#include <optional>

#include "audio/Playback.h"
#include "framework/sockets/CSocket.h"
#include "framework/sockets/CSocketFile.h"
#include "framework/streams/FileStream.h"
#include "framework/streams/FrameworkError.h"
#include "framework/threads/ThreadStarter.h"
#include "net/VoiceMessageFrame.h"

namespace chatterly {
namespace {

std::atomic<int> responders{0};
// When the cue last began, in steady-clock ticks (0: never).
std::atomic<int64_t> lastCue{0};

// Whether this responder plays the cue: none began within the interval.
bool takeCue() {
    const int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    const int64_t interval =
        std::chrono::steady_clock::duration(BusyResponder::kCueInterval).count();
    int64_t last = lastCue.load();
    do {
        if (last != 0 && now - last < interval) {
            return false;
        }
    } while (!lastCue.compare_exchange_weak(last, now));
    return true;
}

// "Busy.wav" whole, or nothing when it cannot be read or is larger than a
// frame may be. Every responder reads its own copy, so two refused callers
// never shut each other out.
std::optional<std::vector<uint8_t>> readBusyMessage() {
    try {
        FileStream file("Busy.wav", FileStream::Mode::Read);
        return file.readAll(kMaxFrameLength);
    } catch (const FrameworkError&) {
        return std::nullopt;
    }
}

}  // namespace

int BusyResponder::running() {
    return responders.load();
}

bool BusyResponder::tryStart(int handle) {
    int now = responders.load();
    do {
        if (now >= kMaxRunning) {
            return false;
        }
    } while (!responders.compare_exchange_weak(now, now + 1));
    const bool started = ThreadStarter::start([handle] {
        struct Release {
            ~Release() { --responders; }
        } release;
        BusyResponderThread(handle);
    });
    if (!started) {
        --responders;  // the slot is free again; the caller closes the handle
    }
    return started;
}

void BusyResponder::BusyResponderThread(int handle) {
    CSocket socket;
    if (!socket.Attach(handle)) {
        return;
    }
    socket.SetGiveUpTime(std::chrono::steady_clock::now() + kGiveUpAfter);
    CSocketFile file(socket);
    CArchive archive(file, CArchive::Mode::Store, 4096);

    // The caller waits meanwhile: nothing has been sent yet.
    if (takeCue()) {
        Playback::PlayCallWaitingCue();
    }

    if (auto busy = readBusyMessage()) {
        try {
            VoiceMessageFrame::write(archive, busy->data(), static_cast<uint32_t>(busy->size()));
            busy.reset();
            archive.Close();
        } catch (const FrameworkError&) {
            // The caller went away or stopped reading: drop the rest.
            archive.Abort();
        }
    } else {
        archive.Abort();
    }
    socket.Close();
}

}  // namespace chatterly
