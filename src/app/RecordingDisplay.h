#pragma once
// What the station window shows while Talk is down: the microphone's level
// on the meter and the recording's time on the clock ("Recording 0:07"), read
// 25 times a second on the GUI thread from the recording device's level; and,
// once a recording, a notice on the status line when its first two seconds
// bring no sound. The timer runs only while Talk is down; at rest the meter is
// empty and the clock says nothing. The window owns it; GUI thread only.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>

#include "audio/SilenceCheck.h"

class QLabel;

namespace chatterly {

class InputLevel;
class LevelMeter;

class RecordingDisplay : public QObject {
    Q_OBJECT
  public:
    static constexpr std::chrono::milliseconds kReadEvery{40};

    // meter and clock: the window's controls, which outlive this.
    RecordingDisplay(LevelMeter* meter, QLabel* clock, QObject* parent);

    // Talk went down: shows level's readings from now on.
    void start(InputLevel& level);
    // Talk came up: the meter empties, the clock clears, the timer stops.
    void stop();

    // "Recording m:ss", or "Recording h:mm:ss" from an hour.
    static QString clockText(std::chrono::seconds elapsed);

  private:
    void read();
    void showClock(const QString& text);

    LevelMeter* meter_;
    QLabel* clock_;
    QTimer timer_;
    QElapsedTimer since_;
    InputLevel* level_ = nullptr;
    SilenceCheck silence_;
};

}  // namespace chatterly
