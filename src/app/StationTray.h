#pragma once
// The station's icon in the desktop's tray (a StatusNotifierItem over D-Bus,
// or an xembed tray icon). Its picture and tool tip say what the station is
// doing, the first of these that holds: recording (Talk is down), in a call,
// messages waiting unplayed, idle. A click brings the station window forward,
// and its menu offers the station's main commands.
//
// The state, the pictures and the menu are made whether or not the desktop
// has a tray; the icon is shown only where it has one, and without one
// nothing is shown and nothing is said. The tray never keeps a station
// whose window has closed.
//
// It does not follow each change on its own: told that something changed, it
// reads the station's whole state again (update()). The station owns it; GUI
// thread only.

#include <QIcon>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace chatterly {

class StationTray : public QObject {
  public:
    // In the order of precedence, the weakest first.
    enum class State { Idle, Unplayed, InCall, Recording };

    // What the tray reads of the station.
    struct Reading {
        bool recording = false;  // Talk is down
        bool inCall = false;     // a call is connected
        QString with;            // the far end of the call
        int unplayed = 0;        // messages waiting in the history
        bool hold = false;       // the Hold messages setting
    };

    // What a click and the menu's commands do; each runs through the error
    // report, as the window's buttons do.
    struct Actions {
        std::function<void()> show;
        std::function<void()> talk;
        std::function<void(bool)> hold;
        std::function<void()> history;
        std::function<void()> settings;
        std::function<void()> exit;
    };

    // trayAvailable: whether the desktop has a tray to show the icon in.
    StationTray(std::function<Reading()> read, Actions actions, bool trayAvailable);
    ~StationTray() override;

    // Something the tray shows may have changed: reads the station's state
    // again and shows it (the icon and tool tip only where they changed).
    void update();

    State state() const { return state_; }
    QString toolTip() const { return toolTip_; }
    // The picture of the state shown.
    QIcon icon() const { return pictures_[static_cast<size_t>(state_)]; }
    QMenu& menu() const { return *menu_; }
    // The icon in the desktop's tray; null where the desktop has none.
    QSystemTrayIcon* trayIcon() const { return icon_.get(); }

  private:
    QAction* addAction(const QString& text, const std::function<void()>& run);

    std::function<Reading()> read_;
    Actions actions_;
    std::array<QIcon, 4> pictures_;  // by state, painted once
    std::unique_ptr<QMenu> menu_;
    QAction* talk_ = nullptr;
    QAction* hold_ = nullptr;
    std::unique_ptr<QSystemTrayIcon> icon_;
    State state_ = State::Idle;
    QString toolTip_;
};

}  // namespace chatterly
