#include "app/StationHistory.h"

#include <QString>

#include "app/StationSettings.h"
#include "audio/Playback.h"
#include "audio/WavDecoder.h"
#include "framework/widgets/StatusLine.h"

namespace chatterly {
namespace {

// Takes whatever a decoder gives: whether an image decodes at all, whatever
// the sound server does.
class DiscardSink : public SoundSink {
  public:
    bool open(uint32_t, uint8_t) override { return true; }
    bool write(const int16_t*, size_t) override { return true; }
    bool finish(bool) override { return true; }
};

// The share of the history a message counts against: its station's, by
// address. A caller that hangs up and calls again keeps its one share, so
// no caller can push out other stations' messages by calling anew.
int64_t shareOf(const std::string& address) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char c : address) {
        hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    }
    // Positive, and never 0, the share of files adopted at a start.
    return static_cast<int64_t>(hash >> 1) | 1;
}

// A setting the user changed that the file could not keep: it holds for this
// run, and the status line says so.
void tellIfUnsaved(bool saved) {
    if (!saved) {
        StatusLine::post(QStringLiteral("The setting could not be saved in ") +
                         QString::fromLatin1(StationSettings::kFileName) + QLatin1Char('.'));
    }
}

}  // namespace

StationHistory::StationHistory(std::shared_ptr<HistoryStore> store, StationSettings& settings,
                               std::function<void(bool)> animate)
    : store_(std::move(store)),
      settings_(settings),
      animate_(std::move(animate)),
      hold_(settings.holdMessages()),
      speed_(settings.speed()),
      speedForLive_(settings.speedForLive()) {}

bool StationHistory::receive(const void* image, size_t length, const Remote& remote, int64_t call) {
    // What the player refuses is not kept: it plays (and fails) as before.
    const auto playingMs = WavDecoder::playingMs(image, length);
    if (!playingMs) {
        return Playback::PlayVoiceMessage(image, length);
    }
    MessageInfo info;
    info.direction = Direction::In;
    info.address = remote.address;
    info.alias = remote.alias;
    info.playingMs = *playingMs;
    info.call = shareOf(remote.address);
    const int64_t id = keep(info, image, length, call);
    if (id != 0 && hold_) {
        const int waiting = store_->unplayedCount();
        StatusLine::post(waiting == 1
                             ? QStringLiteral("1 message waits in the history.")
                             : QStringLiteral("%1 messages wait in the history.").arg(waiting));
        return true;
    }
    const Playback::Outcome outcome =
        Playback::playMessage(image, length, speedForLive_ ? speed_.load() : 1.0);
    if (id != 0 && outcome == Playback::Outcome::Played) {
        store_->markPlayed(id);
    } else if (DiscardSink discard; id != 0 && outcome == Playback::Outcome::Failed &&
                                    !WavDecoder::decode(image, length, discard)) {
        // The player refused it after all (a sound that fails midway, not a
        // missing sound server): it is not kept.
        store_->remove(id);
    }
    return outcome != Playback::Outcome::Failed;
}

void StationHistory::sent(const std::vector<uint8_t>& image, const Remote& remote, int64_t call) {
    MessageInfo info;
    info.direction = Direction::Out;
    info.address = remote.address;
    info.alias = remote.alias;
    info.playingMs = WavDecoder::playingMs(image.data(), image.size()).value_or(0);
    info.call = shareOf(remote.address);
    info.played = true;
    keep(info, image.data(), image.size(), call);
}

int64_t StationHistory::keep(const MessageInfo& info, const void* image, size_t length,
                             int64_t call) {
    const HistoryStore::KeepResult result = store_->keep(info, image, length);
    switch (result.kept) {
        case HistoryStore::Kept::Yes:
            return result.id;
        case HistoryStore::Kept::CallShareFull:
            StatusLine::post(
                QStringLiteral("This station's messages fill its share of the history; the latest "
                               "was not kept."));
            return 0;
        case HistoryStore::Kept::Failed:
            break;
    }
    if (failureToldForCall_.exchange(call) != call) {
        const std::string why = store_->error();
        StatusLine::post(QStringLiteral("The history could not keep a message") +
                         (why.empty() ? QStringLiteral(".")
                                      : QStringLiteral(": ") + QString::fromStdString(why)));
    }
    return 0;
}

void StationHistory::playMessages(const std::vector<int64_t>& ids) {
    for (const int64_t id : ids) {
        const std::vector<uint8_t> image = store_->image(id);
        if (image.empty()) {
            continue;
        }
        animate_(true);
        const Playback::Outcome outcome = Playback::playMessage(image.data(), image.size(), speed_);
        animate_(false);
        if (outcome == Playback::Outcome::Stopped) {
            return;
        }
        if (outcome == Playback::Outcome::Played) {
            store_->markPlayed(id);
        }
    }
}

void StationHistory::stopMessages() {
    Playback::stopMessages();
}

bool StationHistory::holdMessages() const {
    return hold_;
}

void StationHistory::setHoldMessages(bool hold) {
    hold_ = hold;
    tellIfUnsaved(settings_.setHoldMessages(hold));
}

double StationHistory::speed() const {
    return speed_;
}

void StationHistory::setSpeed(double speed) {
    speed_ = speed;
    tellIfUnsaved(settings_.setSpeed(speed_, speedForLive_));
}

bool StationHistory::speedForLive() const {
    return speedForLive_;
}

void StationHistory::setSpeedForLive(bool on) {
    speedForLive_ = on;
    tellIfUnsaved(settings_.setSpeed(speed_, speedForLive_));
}

void StationHistory::followSettings() {
    hold_ = settings_.holdMessages();
    speed_ = settings_.speed();
    speedForLive_ = settings_.speedForLive();
}

}  // namespace chatterly
