#include "framework/widgets/StopGesture.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QShortcutEvent>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace chatterly {

bool StopGesture::matches(const QWidget& window, QObject* receiver, QEvent* event,
                          std::initializer_list<const QWidget*> stopButtons, bool closeBoxStops) {
    const QObject* handle = window.windowHandle();
    const bool toWindow = receiver == &window || receiver == handle;
    const auto isStopButton = [&](const QObject* target) {
        return std::find(stopButtons.begin(), stopButtons.end(), target) != stopButtons.end();
    };
    switch (event->type()) {
        case QEvent::Close:
            return closeBoxStops && toWindow;
        case QEvent::Shortcut: {
            if (isStopButton(receiver)) {
                return true;
            }
            // The window's own Escape key.
            const auto* owner = qobject_cast<const QWidget*>(receiver->parent());
            return static_cast<QShortcutEvent*>(event)->key() == QKeySequence(Qt::Key_Escape) &&
                   owner && (owner == &window || window.isAncestorOf(owner));
        }
        case QEvent::KeyPress:
            return static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
                   (toWindow || window.isAncestorOf(qobject_cast<QWidget*>(receiver)));
        case QEvent::MouseButtonRelease: {
            const QWidget* target = qobject_cast<QWidget*>(receiver);
            if (receiver == handle) {
                target = window.childAt(static_cast<QMouseEvent*>(event)->position().toPoint());
            }
            return target && target->isEnabled() && isStopButton(target);
        }
        default:
            return false;
    }
}

}  // namespace chatterly
