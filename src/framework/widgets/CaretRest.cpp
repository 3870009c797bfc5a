#include "framework/widgets/CaretRest.h"

#include <QApplication>
#include <QEvent>

namespace chatterly {

void CaretRest::install(int restAfterMs) {
    static CaretRest* rest = nullptr;
    if (!rest && qApp) {
        rest = new CaretRest(restAfterMs);
        rest->setParent(qApp);
        qApp->installEventFilter(rest);
    }
}

CaretRest::CaretRest(int restAfterMs) {
    idle_.setSingleShot(true);
    idle_.setInterval(restAfterMs);
    connect(&idle_, &QTimer::timeout, this, [this] { rest(); });
    idle_.start();
}

void CaretRest::rest() {
    if (resting_) {
        return;
    }
    flashTime_ = QApplication::cursorFlashTime();
    resting_ = true;
    QApplication::setCursorFlashTime(0);
}

bool CaretRest::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
        case QEvent::InputMethod:
            if (resting_) {
                resting_ = false;
                QApplication::setCursorFlashTime(flashTime_);
            }
            idle_.start();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace chatterly
