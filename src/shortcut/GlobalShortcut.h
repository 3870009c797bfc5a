#pragma once
// The global Talk shortcut: a key that presses the station's Talk button
// while another window has the focus. The key is taken through the
// desktop's shortcut service (PortalShortcuts) when the session bus has one,
// else on X11 by a key grab on the root window (X11KeyGrab), else not at all
// (Wayland without the service, offscreen): the talk command is the way
// then. The service may answer much later (it may ask the user first), so
// route() and problem() change after setKey() returns, announced by
// stateChanged(). The mode is applied here (ShortcutPresses): talkPressed()
// is one press of Talk. Owned by the station; GUI thread.

#include <QDBusConnection>
#include <QKeySequence>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

#include "shortcut/ShortcutKey.h"
#include "shortcut/ShortcutPresses.h"

namespace chatterly {

class PortalShortcuts;
class X11KeyGrab;

enum class ShortcutRoute { None, Portal, X11Grab };

// How the key reaches the station, as the settings say it.
QString routeName(ShortcutRoute route);

class GlobalShortcut : public QObject {
    Q_OBJECT
  public:
    explicit GlobalShortcut(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                            QObject* parent = nullptr);
    ~GlobalShortcut() override;

    // Takes key in mode, giving up the key taken before (an empty key only
    // gives it up). The outcome may come later: stateChanged() then.
    void setKey(const QKeySequence& key, ShortcutMode mode);
    ShortcutRoute route() const { return route_; }
    // Empty, or one sentence on why the key could not be taken.
    QString problem() const { return problem_; }

  signals:
    void talkPressed();  // one press of Talk, the mode applied
    void stateChanged();

  private:
    void setState(ShortcutRoute route, const QString& problem);
    void takeOnX11();
    void press(int times);
    void onDown(uint64_t time);
    void onUp(uint64_t time, bool repeatsAsPairs);

    std::unique_ptr<PortalShortcuts> portal_;
    std::unique_ptr<X11KeyGrab> grab_;  // null when not on X11
    std::optional<ShortcutKey> key_;
    ShortcutPresses presses_;
    QTimer settle_;  // a release not followed by a repeated press is real
    ShortcutRoute route_ = ShortcutRoute::None;
    QString problem_;
};

}  // namespace chatterly
