#include "app/StationSettings.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <utility>

#include "discovery/NetworkText.h"
#include "framework/streams/FrameworkError.h"
#include "history/HistoryPlayer.h"

namespace chatterly {
namespace {

// A speed as the file holds it: its shortest decimal ("1", "1.25").
std::string speedText(double speed) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, speed).ptr;
    return std::string(text, end);
}
// The clean-up levels as the file writes them.
constexpr std::pair<VoiceCleanup::Level, const char*> kCleanUpNames[] = {
    {VoiceCleanup::Level::Off, "off"},
    {VoiceCleanup::Level::Gentle, "gentle"},
    {VoiceCleanup::Level::Strong, "strong"},
};

}  // namespace

StationSettings::StationSettings(std::string fileName)
    : fileName_(std::move(fileName)), file_(IniFile::load(fileName_)) {}

int64_t StationSettings::historyCapMiB() const {
    return integer("History", "CapMiB", kDefaultHistoryCapMiB, kLeastHistoryCapMiB,
                   kMostHistoryCapMiB);
}

bool StationSettings::holdMessages() const {
    return flag("History", "HoldMessages", false);
}

bool StationSettings::setHoldMessages(bool hold) {
    setFlag("History", "HoldMessages", hold);
    return store();
}

std::string StationSettings::stationName() const {
    const auto text = file_.value("Station", "Name");
    std::string name = text ? NetworkText::label(*text) : std::string();
    if (name.empty()) {
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        name = NetworkText::label(host);
    }
    return name;
}

std::string StationSettings::talkKey() const {
    return file_.value("Shortcut", "Key").value_or(std::string());
}

bool StationSettings::talkKeyHolds() const {
    return file_.value("Shortcut", "Mode") == "hold";
}

double StationSettings::speed() const {
    const auto text = file_.value("History", "Speed");
    for (const double speed : HistoryPlayer::kSpeeds) {
        if (text == speedText(speed)) {
            return speed;
        }
    }
    return 1.0;
}

bool StationSettings::speedForLive() const {
    return flag("History", "SpeedForLive", false);
}

bool StationSettings::setSpeed(double speed, bool forLive) {
    putSpeed(speed, forLive);
    return store();
}

VoiceCleanup::Level StationSettings::cleanUp() const {
    const auto text = file_.value("Recording", "CleanUp");
    for (const auto& [level, name] : kCleanUpNames) {
        if (text == name) {
            return level;
        }
    }
    return Choices{}.cleanUp;
}

StationSettings::Choices StationSettings::choices() const {
    Choices c;
    const auto name = file_.value("Station", "Name");
    c.stationName = name ? NetworkText::label(*name) : std::string();
    c.historyCapMiB = historyCapMiB();
    c.holdMessages = holdMessages();
    c.talkKey = talkKey();
    c.talkKeyHolds = talkKeyHolds();
    c.speed = speed();
    c.speedForLive = speedForLive();
    c.cleanUp = cleanUp();
    return c;
}

bool StationSettings::setChoices(const Choices& c) {
    file_.set("Station", "Name", NetworkText::label(c.stationName));
    file_.set("History", "CapMiB",
              std::to_string(std::clamp(c.historyCapMiB, kLeastHistoryCapMiB, kMostHistoryCapMiB)));
    setFlag("History", "HoldMessages", c.holdMessages);
    file_.set("Shortcut", "Key", c.talkKey);
    file_.set("Shortcut", "Mode", c.talkKeyHolds ? "hold" : "toggle");
    putSpeed(c.speed, c.speedForLive);
    for (const auto& [level, name] : kCleanUpNames) {
        if (level == c.cleanUp) {
            file_.set("Recording", "CleanUp", name);
        }
    }
    return store();
}

int64_t StationSettings::integer(const char* section, const char* key, int64_t fallback,
                                 int64_t least, int64_t most) const {
    const auto text = file_.value(section, key);
    if (!text) {
        return fallback;
    }
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size() || value < least ||
        value > most) {
        return fallback;
    }
    return value;
}

bool StationSettings::flag(const char* section, const char* key, bool fallback) const {
    const auto text = file_.value(section, key);
    if (text == "true") {
        return true;
    }
    if (text == "false") {
        return false;
    }
    return fallback;
}

void StationSettings::setFlag(const char* section, const char* key, bool on) {
    file_.set(section, key, on ? "true" : "false");
}

void StationSettings::putSpeed(double speed, bool forLive) {
    file_.set("History", "Speed", speedText(speed));
    setFlag("History", "SpeedForLive", forLive);
}

bool StationSettings::store() {
    try {
        file_.save(fileName_);
        return true;
    } catch (const FrameworkError&) {
        return false;
    }
}

}  // namespace chatterly
