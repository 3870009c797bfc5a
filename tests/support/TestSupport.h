#pragma once
// Helpers shared by the tests: waiting for a condition with a generous
// deadline while the GUI thread keeps its events and window requests moving,
// a recorder of message boxes, a scratch working directory, files whole, and
// byte patterns.

#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "framework/widgets/MessageBox.h"

namespace chatterly {
class ThreadLoop;
}

namespace chatterly::test {

// Processes Qt events and window requests until done() holds or the limit
// passes; returns done()'s last value. Never a fixed sleep: it returns as
// soon as the condition holds.
bool waitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(20));

// Runs work on a thread of its own while this one serves its events (a
// client of a server on this thread); its result.
template <typename Work>
auto runBeside(Work work) {
    auto done = std::async(std::launch::async, std::move(work));
    waitFor([&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            std::chrono::seconds(60));
    return done.get();
}

// Installs itself as the message box seam for its lifetime and records every
// box; each box is dismissed at once (or by onShow, which runs while the box
// is "up").
class MessageBoxRecorder {
  public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();

    std::vector<MessageBoxRecord> boxes() const;
    std::vector<std::string> texts() const;
    size_t count() const;
    void clear();

    // Runs inside the box, on the thread that shows it (the GUI thread).
    std::function<void(const MessageBoxRecord&)> onShow;

  private:
    mutable std::mutex mutex_;
    std::vector<MessageBoxRecord> boxes_;
};

// Lowers one resource limit of the process (RLIMIT_NOFILE, RLIMIT_FSIZE...)
// to soft for its lifetime.
class LimitScope {
  public:
    LimitScope(int resource, uint64_t soft);
    ~LimitScope();
    LimitScope(const LimitScope&) = delete;
    LimitScope& operator=(const LimitScope&) = delete;

  private:
    int resource_;
    uint64_t savedSoft_ = 0;
};

// The lowest descriptor number that is free: with the descriptor limit
// lowered to it, no descriptor is left.
int lowestFreeDescriptor();

// Whether the build checks for undefined behaviour. Its type checks probe
// memory through descriptors of their own and report false errors when none
// is left, so the cases that take every descriptor away skip there.
#ifdef CHATTERLY_UNDEFINED_CHECKS
inline constexpr bool kUndefinedChecks = true;
#else
inline constexpr bool kUndefinedChecks = false;
#endif
inline constexpr const char* kNeedsDescriptors =
    "the undefined-behaviour checks need descriptors of their own";

// A fresh temporary directory made the working directory for its lifetime.
class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
    std::string previous_;
};

// Worker threads, which own their loop: sleeps until a message is queued for
// the thread (without dispatching it), and dispatches every queued message.
void waitUntilQueued(ThreadLoop& loop);
void dispatchAll(ThreadLoop& loop);

// Whether a PulseAudio server is reachable (PULSE_SERVER or the default).
bool soundServerAvailable();

// A file's bytes (empty when it cannot be read), and a file made of bytes.
std::vector<uint8_t> fileBytes(const std::string& name);
void writeFile(const std::string& name, const std::vector<uint8_t>& bytes);

// Stations started in the working directory from now on send what the
// microphone hears as it is: the clean-up off in their "Chatterly.ini", so
// that a recording of the null sink's silence is sent.
void sendAsCaptured();

// What the status line says when a connection failed under a message.
inline const QString kNotDelivered =
    QStringLiteral("Your message was not delivered: the call has ended.");

// n bytes that differ from their neighbours and, by seed, between patterns.
std::vector<uint8_t> pattern(size_t n, uint8_t seed = 1);

}  // namespace chatterly::test
