#include "app/StationTray.h"

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPolygonF>
#include <QSystemTrayIcon>

#include "framework/threads/ErrorReport.h"

namespace chatterly {
namespace {

// The program's icon is drawn at 32 pixels; the pictures are too.
constexpr int kSide = 32;

// The program's icon with the state's mark in its lower right quarter, rimmed
// in white so that it stands out on a dark or light panel: a red disc while
// recording (the usual record mark), a green square in a call, a blue
// diamond while messages wait. Idle is the icon alone. Shapes as well as
// colours differ, so the marks tell apart without colour too.
QIcon picture(StationTray::State state) {
    QImage image(kSide, kSide, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.drawPixmap(0, 0, QIcon(QStringLiteral(":/icon128.ico")).pixmap(kSide, kSide));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 2));
    const QRectF mark(kSide / 2.0 + 1, kSide / 2.0 + 1, kSide / 2.0 - 2, kSide / 2.0 - 2);
    switch (state) {
        case StationTray::State::Idle:
            break;
        case StationTray::State::Unplayed:
            painter.setBrush(QColor(0x15, 0x65, 0xc0));
            painter.drawPolygon(QPolygonF({QPointF(mark.center().x(), mark.top()),
                                           QPointF(mark.right(), mark.center().y()),
                                           QPointF(mark.center().x(), mark.bottom()),
                                           QPointF(mark.left(), mark.center().y())}));
            break;
        case StationTray::State::InCall:
            painter.setBrush(QColor(0x2e, 0x7d, 0x32));
            painter.drawRoundedRect(mark, 2, 2);
            break;
        case StationTray::State::Recording:
            painter.setBrush(QColor(0xd3, 0x2f, 0x2f));
            painter.drawEllipse(mark);
            break;
    }
    painter.end();
    return QIcon(QPixmap::fromImage(image));
}

StationTray::State stateOf(const StationTray::Reading& r) {
    if (r.recording) {
        return StationTray::State::Recording;
    }
    if (r.inCall) {
        return StationTray::State::InCall;
    }
    return r.unplayed > 0 ? StationTray::State::Unplayed : StationTray::State::Idle;
}

QString toolTipOf(StationTray::State state, const StationTray::Reading& r) {
    switch (state) {
        case StationTray::State::Recording:
            return QStringLiteral("Chatterly: recording");
        case StationTray::State::InCall:
            return r.with.isEmpty() ? QStringLiteral("Chatterly: in a call")
                                    : QStringLiteral("Chatterly: in a call with ") + r.with;
        case StationTray::State::Unplayed:
            return r.unplayed == 1
                       ? QStringLiteral("Chatterly: 1 message waiting")
                       : QStringLiteral("Chatterly: %1 messages waiting").arg(r.unplayed);
        case StationTray::State::Idle:
            break;
    }
    return QStringLiteral("Chatterly: idle");
}

}  // namespace

StationTray::StationTray(std::function<Reading()> read, Actions actions, bool trayAvailable)
    : read_(std::move(read)), actions_(std::move(actions)), menu_(std::make_unique<QMenu>()) {
    for (size_t i = 0; i < pictures_.size(); ++i) {
        pictures_[i] = picture(static_cast<State>(i));
    }
    addAction(QStringLiteral("&Show the station"), actions_.show);
    talk_ = addAction(QStringLiteral("&Talk"), actions_.talk);
    hold_ = menu_->addAction(QStringLiteral("&Hold messages"));
    hold_->setCheckable(true);
    // triggered, not toggled: only the user's choice is a request; update()
    // setting the check from the station's setting is none.
    connect(hold_, &QAction::triggered, this,
            [this](bool on) { ErrorReport::run([this, on] { actions_.hold(on); }); });
    addAction(QStringLiteral("Hi&story"), actions_.history);
    addAction(QStringLiteral("S&ettings..."), actions_.settings);
    menu_->addSeparator();
    addAction(QStringLiteral("E&xit"), actions_.exit);
    // The History window may have changed Hold messages meanwhile.
    connect(menu_.get(), &QMenu::aboutToShow, this, [this] { update(); });
    update();

    if (trayAvailable) {
        icon_ = std::make_unique<QSystemTrayIcon>(icon());
        icon_->setToolTip(toolTip_);
        icon_->setContextMenu(menu_.get());
        connect(
            icon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    ErrorReport::run(actions_.show);
                }
            });
        icon_->show();
    }
}

StationTray::~StationTray() = default;

QAction* StationTray::addAction(const QString& text, const std::function<void()>& run) {
    QAction* action = menu_->addAction(text);
    connect(action, &QAction::triggered, this, [run] { ErrorReport::run(run); });
    return action;
}

void StationTray::update() {
    const Reading r = read_();
    const State state = stateOf(r);
    const QString tip = toolTipOf(state, r);
    talk_->setEnabled(r.inCall);
    hold_->setChecked(r.hold);
    if (icon_ && state != state_) {
        icon_->setIcon(pictures_[static_cast<size_t>(state)]);
    }
    if (icon_ && tip != toolTip_) {
        icon_->setToolTip(tip);
    }
    state_ = state;
    toolTip_ = tip;
}

}  // namespace chatterly
