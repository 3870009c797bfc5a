#pragma once
// A level meter: a horizontal bar for a sound's RMS with a mark for its
// peak, both in dBFS on a scale from kLowDb (empty) to 0 (full). Drawn by
// the GUI thread. To assistive technology it is a progress bar whose value is
// the RMS in whole dB, read as "-23 dB"; the peak is only drawn.

#include <QProgressBar>

namespace chatterly {

class LevelMeter : public QProgressBar {
    Q_OBJECT
  public:
    static constexpr int kLowDb = -60;

    explicit LevelMeter(QWidget* parent = nullptr);

    // Shows a level; values below the scale show as empty.
    void setLevel(double peakDb, double rmsDb);
    // Empty: no sound measured.
    void clearLevel() { setLevel(kLowDb, kLowDb); }
    double peakDb() const { return peakDb_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double peakDb_ = kLowDb;
    double rmsDb_ = kLowDb;
};

}  // namespace chatterly
