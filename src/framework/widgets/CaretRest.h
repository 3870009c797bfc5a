#pragma once
// The text caret stops blinking after ten seconds without a key press, a
// mouse click, the wheel or an input method's text, and blinks again at the
// next one, as desktops that offer a
// blink timeout do: a station left open all day does not repaint its
// focused field twice a second for nobody. The caret stays shown meanwhile.

#include <QObject>
#include <QTimer>

namespace chatterly {

class CaretRest : public QObject {
    Q_OBJECT
  public:
    static constexpr int kRestAfterMs = 10000;

    // Watches the application's input from now on (GUI thread, once).
    static void install(int restAfterMs = kRestAfterMs);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit CaretRest(int restAfterMs);
    void rest();

    QTimer idle_;
    int flashTime_ = 0;  // the desktop's blink time, while resting
    bool resting_ = false;
};

}  // namespace chatterly
