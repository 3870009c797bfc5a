#pragma once
// Holds back user input while the GUI thread is busy with something that
// must not be interrupted by clicks (a voice message playing on it). While an
// InputHold exists, mouse buttons, the wheel, keys, shortcuts (also a
// window's own, such as Enter on a list) and close
// requests for the application's windows are taken out of the event stream and
// posted again, in their order, when it ends, so they take effect afterwards.
// Input that isUrgent() picks (a stop gesture) is held back too, and onUrgent
// runs at once. Input to message boxes goes through, so a box that appears
// meanwhile can be answered.

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

  protected:
    bool eventFilter(QObject* receiver, QEvent* event) override;

  private:
    struct Held {
        QPointer<QObject> receiver;
        std::unique_ptr<QEvent> event;
    };

    Test isUrgent_;
    std::function<void()> onUrgent_;
    std::vector<Held> held_;
};

}  // namespace chatterly
