#pragma once
// A push-like button of a dialog template: it stays down while what it
// started goes on, and the program, not the button, decides its state. Every
// way of working it is a click, also for assistive technology: its toggle
// action clicks (Qt's own would flip the state alone, behind the program's
// back), and it tells its checked state, and its Alt key as a button does.

#include <QPushButton>

namespace chatterly {

class PushLikeButton : public QPushButton {
    Q_OBJECT
  public:
    explicit PushLikeButton(const QString& caption, QWidget* parent = nullptr);
};

}  // namespace chatterly
