#pragma once
// The station: the object that owns the station's parts and wires them
// together. It makes the window, the view proxy that workers hold, the status
// displays, the recorder and its Talk button, the station memory, the
// outgoing call's worker, the calls' shared face (StationCalls), the call
// controller and the listener, and it carries out the window's
// initialisation order, the memory dialog's flow and the end of the station.
// Everything here runs on the GUI thread.
//
// The parts that worker threads use are held by shared pointer and outlive the
// station when a worker still runs; at the end the proxy and the calls are
// detached, so nothing touches the window after it has gone.

#include <QPointer>
#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "app/StationSettings.h"
#include "audio/RecordingDevice.h"
#include "control/StatusDisplays.h"
#include "net/CListeningSocket.h"

namespace chatterly {

class CallController;
class CallerWorker;
class CStationDlg;
class Discovery;
class FoundStations;
class GlobalShortcut;
class SettingsDialog;
class NearbyWindow;
class HistoryStore;
class HistoryWindow;
class StationCalls;
class StationHistory;
class StationTray;
class StationMemory;
class StationView;
class StationViewProxy;
class TalkButton;
class VoiceRecorder;

struct StationOptions {
    uint16_t listenPort = ListenPort;              // tests may listen elsewhere (0: any free port)
    uint16_t callPort = ListenPort;                // the port an outgoing call goes to
    std::chrono::milliseconds connectLimit{8000};  // a connect that takes longer fails
    StatusDisplays::Clock clock;                   // calendar seconds; the system's by default
    RecordingDevice::Options recorder;             // the default sound server and source
    std::string settingsFile = "Chatterly.ini";    // in the working directory
    std::string historyDirectory = "History";
    bool discovery = true;  // announce and find stations through the Avahi daemon
};

class Station {
  public:
    explicit Station(StationOptions options = {});
    // Ends an outgoing call wherever its worker waits, closes the recorder
    // (removing "Parlio.wav") and the listener with every connection it
    // accepted; then the window goes.
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // The fixed initialisation order: the window's pictures, the idle
    // controls, the recorder, the listener, the station memory. Returns true
    // (the focus goes to the first control).
    bool InitStationWindow();
    // InitStationWindow, then the window's modal run until it ends.
    int runModal();

    // Reads the station memory and fills the remote-station box from it.
    void LoadMemory();
    // Remote Parlio: the memory dialog; after OK the lists, the box and the
    // file are rebuilt. With adding, an Add of (address, alias) is begun.
    void OnRemoteStationButton(std::optional<std::pair<QString, QString>> adding = std::nullopt);
    // Nearby: opens the window of the stations found on the network (made at
    // the first press), or brings it forward.
    void OnNearbyButton();
    // The window of found stations, once opened (else null).
    NearbyWindow* nearbyWindow() const { return nearbyWindow_.get(); }
    // SIGTERM or SIGINT: whatever plays stops, open dialogs and boxes are
    // left as if cancelled, and the window closes as by its close box.
    void OnTerminationRequest();
    // History: opens the history window (made at the first press), or
    // brings it forward.
    void OnHistoryButton();
    // Settings: the Settings dialog; after OK its values are written and
    // take effect at once.
    void OnSettingsButton();
    // The history window, once opened (else null).
    HistoryWindow* historyWindow() const { return historyWindow_.get(); }
    // The tray icon (its state and menu are kept also where no tray shows it).
    StationTray& tray() const { return *tray_; }

    CStationDlg& window() const { return *window_; }
    CallController& controller() const { return *controller_; }
    StatusDisplays& displays() const { return *displays_; }
    StationCalls& calls() const { return *calls_; }
    VoiceRecorder& recorder() const { return *recorder_; }
    StationMemory& memory() const { return *memory_; }
    CallerWorker& caller() const { return *caller_; }
    StationHistory& history() const { return *history_; }
    StationSettings& settings() const { return *settings_; }
    FoundStations& found() const { return *found_; }
    // The global Talk key, once a key was chosen (else null).
    GlobalShortcut* shortcut() const { return shortcut_.get(); }
    // Announcing and browsing, once started (after the window is up; else null).
    Discovery* discovery() const { return discovery_.get(); }
    // The listener (never null) and the port it listens on (0: not listening).
    CListeningSocket& listener() const { return *listener_; }
    uint16_t listeningPort() const;
    // The window as workers hold it.
    std::shared_ptr<StationView> viewProxy() const;

  private:
    // Listens on the station's port; false (with its message, Talk
    // disabled) when the port cannot be had.
    bool openListener();
    // GUI thread, after the history changed: the History button's count and
    // the window's rows.
    void historyChanged();
    // Starts announcing and browsing; the window is already up, so the
    // start never waits for the daemon.
    void startDiscovery();
    // The Settings dialog's values, written and put into effect.
    void applySettings(const StationSettings::Choices& choices);
    // Takes the Talk key of the settings (made at the first need).
    void takeTalkKey();
    // The shortcut's way and problem, into the open Settings dialog.
    void showShortcut();
    // GUI thread, after the found stations changed: the Nearby button's
    // count and the window's rows.
    void nearbyChanged();
    // Add to Memory in the Nearby window: the memory dialog with an Add begun,
    // the found name as the alias, or the host name where the memory cannot
    // hold the name.
    void addToMemory(const QString& name, const std::string& address, const QString& hostName);
    // Makes the tray icon, wired to the station's state and commands.
    void makeTray();

    const StationOptions options_;
    std::unique_ptr<StationSettings> settings_;
    std::shared_ptr<HistoryStore> store_;
    std::unique_ptr<CStationDlg> window_;
    std::shared_ptr<StationViewProxy> proxy_;
    std::shared_ptr<StatusDisplays> displays_;
    std::shared_ptr<TalkButton> talk_;
    std::shared_ptr<VoiceRecorder> recorder_;
    std::shared_ptr<StationMemory> memory_;
    std::shared_ptr<CallerWorker> caller_;
    std::shared_ptr<StationHistory> history_;
    std::shared_ptr<StationCalls> calls_;
    std::shared_ptr<CallController> controller_;
    std::unique_ptr<CListeningSocket> listener_;
    std::unique_ptr<HistoryWindow> historyWindow_;
    std::unique_ptr<FoundStations> found_;
    std::unique_ptr<Discovery> discovery_;
    std::unique_ptr<NearbyWindow> nearbyWindow_;
    std::unique_ptr<GlobalShortcut> shortcut_;
    QPointer<SettingsDialog> settingsDialog_;                     // while it is open
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // for workers' history changes
    bool historyChangePending_ = false;
    bool nearbyChangePending_ = false;
    std::unique_ptr<StationTray> tray_;  // last: it reads the parts above
};

}  // namespace chatterly
