#pragma once
// The station's side of the message history: every message received on
// either call direction is kept before it plays (or, while messages are
// held, instead of playing), every message sent is kept after it has gone,
// and kept messages are played again through the station's own playback.
// Notices about the history (a message not kept, messages waiting) go to the
// status line, never to a box.
//
// receive() and sent() run on the thread of the call's connection (the GUI
// thread for an incoming call, the caller worker for an outgoing one); the
// history window's requests (HistoryPlayer) run on the GUI thread.
//
// The history's share of one call is taken per station (by address): a
// station's messages take at most a quarter of the history however often it
// calls.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "history/HistoryPlayer.h"
#include "history/HistoryStore.h"

namespace chatterly {

class StationSettings;

class StationHistory : public HistoryPlayer {
  public:
    // The far end of a call as the user knows it (UTF-8).
    struct Remote {
        std::string address;
        std::string alias;
    };

    // animate(true/false) starts and stops the speaker picture around a
    // message played from the history.
    StationHistory(std::shared_ptr<HistoryStore> store, StationSettings& settings,
                   std::function<void(bool)> animate);

    // A received message: kept, then played, or only kept while messages are
    // held. False when the player refused or failed it.
    bool receive(const void* image, size_t length, const Remote& remote, int64_t call);
    // A message that has gone out on the wire.
    void sent(const std::vector<uint8_t>& image, const Remote& remote, int64_t call);

    HistoryStore& store() { return *store_; }

    // HistoryPlayer, GUI thread.
    void playMessages(const std::vector<int64_t>& ids) override;
    void stopMessages() override;
    bool holdMessages() const override;
    void setHoldMessages(bool hold) override;
    double speed() const override;
    void setSpeed(double speed) override;
    bool speedForLive() const override;
    void setSpeedForLive(bool on) override;
    // Takes the hold and the speed from the settings again, after they were
    // changed elsewhere (the Settings dialog).
    void followSettings();

  private:
    // Keeps a message; says on the status line, once a call, when it could
    // not. The id kept, or 0.
    int64_t keep(const MessageInfo& info, const void* image, size_t length, int64_t call);

    std::shared_ptr<HistoryStore> store_;
    StationSettings& settings_;  // GUI thread only
    std::function<void(bool)> animate_;
    std::atomic<bool> hold_;
    std::atomic<double> speed_;  // received messages read them on their call's thread
    std::atomic<bool> speedForLive_;
    std::atomic<int64_t> failureToldForCall_{-1};
};

}  // namespace chatterly
