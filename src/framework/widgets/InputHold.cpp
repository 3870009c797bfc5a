#include "framework/widgets/InputHold.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QShortcut>
#include <QWidget>
#include <QWindow>

namespace chatterly {
namespace {

bool isInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::Close:
            return true;
        default:
            return false;
    }
}

// The widget a receiver stands for: itself, a window's top-level widget, or
// the widget a shortcut belongs to (a window's own keys, such as Enter on a
// list, reach it as shortcuts).
QWidget* widgetOf(QObject* receiver) {
    if (auto* widget = qobject_cast<QWidget*>(receiver)) {
        return widget;
    }
    if (auto* shortcut = qobject_cast<QShortcut*>(receiver)) {
        return qobject_cast<QWidget*>(shortcut->parent());
    }
    if (auto* window = qobject_cast<QWindow*>(receiver)) {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->windowHandle() == window) {
                return top;
            }
        }
    }
    return nullptr;
}

}  // namespace

InputHold* InputHold::outermost_ = nullptr;

InputHold::InputHold(Test isUrgent, std::function<void()> onUrgent)
    : isUrgent_(std::move(isUrgent)), onUrgent_(std::move(onUrgent)) {
    QCoreApplication::instance()->installEventFilter(this);
    if (!outermost_) {
        outermost_ = this;
    }
}

InputHold::~InputHold() {
    QCoreApplication::instance()->removeEventFilter(this);
    if (outermost_ == this) {
        outermost_ = nullptr;
    }
    // A queued call is posted like an event, so the two keep their order.
    for (Held& held : held_) {
        if (!held.receiver) {
            continue;
        }
        if (held.event) {
            QCoreApplication::postEvent(held.receiver, held.event.release());
        } else {
            QMetaObject::invokeMethod(held.receiver.data(), std::move(held.call),
                                      Qt::QueuedConnection);
        }
    }
}

bool InputHold::holdBack(QObject* context, std::function<void()> call) {
    if (!outermost_) {
        return false;
    }
    outermost_->held_.push_back(Held{context, nullptr, std::move(call)});
    return true;
}

bool InputHold::eventFilter(QObject* receiver, QEvent* event) {
    if (!isInput(event->type())) {
        return false;
    }
    QWidget* widget = widgetOf(receiver);
    if (!widget || qobject_cast<QMessageBox*>(widget->window())) {
        return false;
    }
    if (event->type() == QEvent::Close && !widget->isWindow()) {
        return false;
    }
    if (isUrgent_ && isUrgent_(receiver, event) && onUrgent_) {
        onUrgent_();
    }
    held_.push_back(Held{receiver, std::unique_ptr<QEvent>(event->clone()), {}});
    return true;
}

}  // namespace chatterly
