#pragma once
// The station window: the program's one main window, built to the layout of
// its dialog template, and the object through which the other subsystems
// reach the station. It is kept thin: call logic lives in CallController and
// StatusDisplays; this class places the controls, carries out the view
// requests on the GUI thread and binds the buttons to their handlers.

#include <QDialog>
#include <QIcon>
#include <QPixmap>
#include <array>
#include <map>
#include <memory>
#include <string>

#include "audio/RecordingDevice.h"
#include "control/CallController.h"
#include "control/StationView.h"
#include "control/StationViewProxy.h"
#include "control/StatusDisplays.h"
#include "net/CListeningSocket.h"

class QGroupBox;
class QLabel;
class QPushButton;

namespace chatterly {

class SortedComboBox;
class StationCalls;
class StationMemory;
class VoiceRecorder;

struct StationOptions {
    uint16_t listenPort = ListenPort;   // tests may listen elsewhere (0: any free port)
    StatusDisplays::Clock clock;        // calendar seconds; the system's by default
    RecordingDevice::Options recorder;  // the default sound server and source
};

class CStationDlg : public QDialog, public StationView {
    Q_OBJECT
  public:
    explicit CStationDlg(StationOptions options = {});
    ~CStationDlg() override;

    // Data exchange between controls and fields (save: controls to fields).
    void ExchangeControlData(bool save);
    // The fixed initialisation order; returns true (focus to the first control).
    bool InitStationWindow();
    // Initialises, shows and runs the window until it ends.
    int RunModal();

    // Call controller operations (any thread unless noted).
    void OnConnectButton();  // GUI thread
    void OnTalkButton();     // GUI thread
    void OnExitButton();     // GUI thread
    void OnAboutButton();    // GUI thread
    void Disconnect();
    void SetConnectedControls(bool connected);
    void SetIncomingState(bool active);
    void PlaybackAnimation(bool start);

    // Where the icon of a minimised window stands in its client area.
    static QPoint IconPosition(QSize client, QSize icon);
    QIcon GetDragIcon() const { return icon_; }

    CallController& controller() { return *controller_; }
    StatusDisplays& displays() { return *displays_; }
    std::shared_ptr<StationView> viewProxy() const { return proxy_; }
    QWidget* control(int id) const;
    std::string RemoteText() const { return controller_->RemoteText(); }
    // The listener (never null) and the port it listens on (0: not listening).
    CListeningSocket& listener() const { return *listener_; }
    uint16_t listeningPort() const;
    StationCalls& calls() const { return *calls_; }
    VoiceRecorder& recorder() const { return *recorder_; }
    StationMemory& memory() const { return *memory_; }

    // Reads the station memory and fills the remote-station box from it.
    void LoadMemory();
    // The memory dialog; after OK the lists, the box and the file are rebuilt.
    void OnRemoteStationButton();  // GUI thread
    bool isIncomingCall() const { return controller_->IncomingCall(); }

    // StationView, on the GUI thread.
    void EnableControl(int id, bool enabled) override;
    void SetControlText(int id, const std::string& text) override;
    std::string ControlText(int id) override;
    void SetWindowCaption(const std::string& text) override;
    void SetChecked(int id, bool checked) override;
    bool IsChecked(int id) override;
    void ShowBitmap(int controlId, int bitmapId) override;
    void BringToFront() override;

    // The bitmap shown in a picture control (tests), or 0.
    int shownBitmap(int controlId) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    void buildControls();
    void fillRemoteBox(const std::vector<std::string>& texts);
    void bind(QPushButton* button, void (CStationDlg::*handler)());
    // Operations of subsystems that come later; each says plainly that it
    // cannot do its work yet.
    bool OpenRecorder();
    // Release of Talk on an incoming call: the recording goes out on the
    // incoming connection.
    void StopAndSendRecording();
    // Listens on the station's port; false (with its message, Talk
    // disabled) when the port cannot be had.
    bool OpenListener();
    void StartCallerThread();
    void CloseRecorder();

    StationOptions options_;
    // Controls by identifier, and the ones the station addresses directly.
    std::map<int, QWidget*> controls_;
    QLabel* picture_ = nullptr;
    QLabel* led_ = nullptr;
    QPushButton* talk_ = nullptr;
    SortedComboBox* remote_ = nullptr;
    QGroupBox* statusBox_ = nullptr;

    std::string remoteText_;
    QIcon icon_;
    std::map<int, QPixmap> bitmaps_;  // loaded pictures by bitmap id
    std::map<int, int> shown_;        // picture control id -> bitmap id

    std::shared_ptr<StationViewProxy> proxy_;
    std::shared_ptr<StatusDisplays> displays_;
    std::shared_ptr<StationCalls> calls_;
    std::shared_ptr<VoiceRecorder> recorder_;
    std::shared_ptr<StationMemory> memory_;
    std::shared_ptr<CallController> controller_;
    std::unique_ptr<CListeningSocket> listener_;
    bool closing_ = false;
};

}  // namespace chatterly
