#pragma once
// Holds back user input while the GUI thread is busy with something that
// must not be interrupted by clicks (a voice message playing on it). While an
// InputHold exists, mouse buttons, the wheel, keys, shortcuts (also a
// window's own, such as Enter on a list) and close
// requests for the application's windows are taken out of the event stream and
// posted again, in their order, when it ends, so they take effect afterwards.
// Input that isUrgent() picks (a stop gesture) is held back too, and onUrgent
// runs at once. Input to message boxes goes through, so a box that appears
// meanwhile can be answered. Work that stands for input from elsewhere (the
// talk command's press) is held back with holdBack, in order with the rest.

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

class QEvent;

namespace chatterly {

class InputHold : public QObject {
    Q_OBJECT
  public:
    using Test = std::function<bool(QObject* receiver, QEvent* event)>;

    // GUI thread.
    InputHold(Test isUrgent, std::function<void()> onUrgent);
    // Posts the held input back.
    ~InputHold() override;

    // GUI thread: while input is held back, call is kept and runs after the
    // input held before it (as long as context lives), and this returns
    // true; otherwise false, and nothing is kept.
    static bool holdBack(QObject* context, std::function<void()> call);

  protected:
    bool eventFilter(QObject* receiver, QEvent* event) override;

  private:
    struct Held {
        QPointer<QObject> receiver;
        std::unique_ptr<QEvent> event;  // or else call
        std::function<void()> call;
    };

    static InputHold* outermost_;  // the hold that ends last

    Test isUrgent_;
    std::function<void()> onUrgent_;
    std::vector<Held> held_;
};

}  // namespace chatterly
