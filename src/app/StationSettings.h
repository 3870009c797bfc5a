#pragma once
// The station's own settings, kept in "Chatterly.ini" beside the station
// memory (see IniFile: written whole, private, never through a link). A
// missing or damaged file gives the defaults, and so does each value that is
// missing, unreadable or out of its range; a value is written back only when
// the user changes a setting. GUI thread.

#include <cstdint>
#include <string>

#include "audio/VoiceCleanup.h"
#include "framework/streams/IniFile.h"

namespace chatterly {

class StationSettings {
  public:
    static constexpr const char* kFileName = "Chatterly.ini";
    static constexpr int64_t kDefaultHistoryCapMiB = 256;
    static constexpr int64_t kLeastHistoryCapMiB = 1;
    static constexpr int64_t kMostHistoryCapMiB = 1 << 20;  // a tebibyte

    // What the Settings dialog edits, written together.
    struct Choices {
        std::string stationName;  // UTF-8; empty: the host name
        int64_t historyCapMiB = kDefaultHistoryCapMiB;
        bool holdMessages = false;
        std::string talkKey;  // a key in QKeySequence's portable text ("Ctrl+Alt+T"); empty: none
        bool talkKeyHolds = false;  // held down to talk, instead of pressed to start and stop
        double speed = 1.0;         // one of HistoryPlayer::kSpeeds
        bool speedForLive = false;  // received messages play at that speed too
        VoiceCleanup::Level cleanUp = VoiceCleanup::Level::Gentle;
    };

    explicit StationSettings(std::string fileName = kFileName);

    // The most the message history keeps, in MiB.
    int64_t historyCapMiB() const;
    // Received messages are kept unplayed instead of played.
    bool holdMessages() const;
    // Sets and writes the file; false when it cannot be written (the value
    // holds for this run).
    bool setHoldMessages(bool hold);
    // The name the station is announced under on the network ([Station]
    // Name, UTF-8): one DNS label, without control characters; the host
    // name when it is not set or nothing of it remains.
    std::string stationName() const;
    // The Talk key and its mode ([Shortcut] Key, Mode=toggle|hold).
    std::string talkKey() const;
    bool talkKeyHolds() const;
    // The speed messages play at from the history ([History] Speed, one of
    // HistoryPlayer::kSpeeds as "1", "1.25", "1.5", "2"; anything else is 1),
    // and whether received messages play at it too ([History] SpeedForLive).
    double speed() const;
    bool speedForLive() const;
    // Sets both and writes the file; false when it cannot be written.
    bool setSpeed(double speed, bool forLive);
    // The voice's clean-up of recordings ([Recording] CleanUp=off|gentle|strong).
    VoiceCleanup::Level cleanUp() const;

    // The values as the Settings dialog shows them (the name as written,
    // empty when the host name stands).
    Choices choices() const;
    // Sets them all and writes the file once; false when it cannot be
    // written (the values hold for this run). The name is kept as one label.
    bool setChoices(const Choices& choices);

  private:
    int64_t integer(const char* section, const char* key, int64_t fallback, int64_t least,
                    int64_t most) const;
    bool flag(const char* section, const char* key, bool fallback) const;
    void setFlag(const char* section, const char* key, bool on);
    // The playback speed and whether received messages play at it, unsaved.
    void putSpeed(double speed, bool forLive);
    bool store();

    std::string fileName_;
    IniFile file_;
};

}  // namespace chatterly
