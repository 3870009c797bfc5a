#include "app/RecordingDisplay.h"

#include <QLabel>

#include "audio/InputLevel.h"
#include "audio/RecordingDevice.h"
#include "framework/widgets/LevelMeter.h"
#include "framework/widgets/StatusLine.h"

namespace chatterly {

RecordingDisplay::RecordingDisplay(LevelMeter* meter, QLabel* clock, QObject* parent)
    : QObject(parent), meter_(meter), clock_(clock), silence_(RecordingDevice::kSampleRate) {
    timer_.setInterval(kReadEvery);
    connect(&timer_, &QTimer::timeout, this, &RecordingDisplay::read);
    stop();
}

void RecordingDisplay::start(InputLevel& level) {
    level_ = &level;
    level_->take();  // what a previous recording left unread
    silence_.begin();
    since_.start();
    showClock(clockText(std::chrono::seconds(0)));
    timer_.start();
}

void RecordingDisplay::stop() {
    timer_.stop();
    level_ = nullptr;
    meter_->clearLevel();
    showClock(QString());
}

void RecordingDisplay::read() {
    if (!level_) {
        return;
    }
    const InputLevel::Reading reading = level_->take();
    meter_->setLevel(reading.peakDb, reading.rmsDb);
    showClock(clockText(std::chrono::seconds(since_.elapsed() / 1000)));
    if (silence_.update(reading)) {
        StatusLine::post(
            "No sound comes from the microphone. Properties opens the sound settings.");
    }
}

void RecordingDisplay::showClock(const QString& text) {
    if (clock_->text() == text && !clock_->accessibleName().isEmpty()) {
        return;
    }
    clock_->setText(text);
    // Named by what it shows, like the window's other changing captions.
    clock_->setAccessibleName(text.isEmpty() ? QStringLiteral("Recording time") : text);
}

QString RecordingDisplay::clockText(std::chrono::seconds elapsed) {
    const auto s = elapsed.count();
    const auto two = [](long long n) {
        return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
    };
    if (s >= 3600) {
        return QStringLiteral("Recording %1:%2:%3")
            .arg(s / 3600)
            .arg(two(s / 60 % 60), two(s % 60));
    }
    return QStringLiteral("Recording %1:%2").arg(s / 60).arg(two(s % 60));
}

}  // namespace chatterly
