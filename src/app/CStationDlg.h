#pragma once
// The station window: the program's one main window, laid out from its dialog
// template. It places the controls, binds the buttons to the station's
// operations, and carries out the view requests of the call controller and
// the status displays on the GUI thread. The station (Station) owns it and
// the parts it shows.

#include <QIcon>
#include <QPixmap>
#include <map>
#include <string>
#include <vector>

#include "control/StationView.h"
#include "framework/widgets/CDialog.h"

class QLabel;
class QPushButton;

namespace chatterly {

class CaptionBox;
class RecordingDisplay;

class SortedComboBox;
class Station;

class CStationDlg : public CDialog, public StationView {
    Q_OBJECT
  public:
    // station: whose operations the buttons run; it outlives the window.
    explicit CStationDlg(Station& station);
    ~CStationDlg() override;

    // The window's part of the initialisation: the data exchange, the icon,
    // the pictures, and the speaker at rest.
    void InitDialog();
    // Data exchange between the remote-station box and the remote text
    // (save: the box's text into the field).
    void ExchangeControlData(bool save);
    // Empties the remote-station box (items and edit text) and fills it with
    // texts in their sorted order.
    void FillRemoteBox(std::vector<std::string> texts);

    // Connect: calls the remote text, unless the station's encoding cannot
    // hold it.
    void OnConnectButton();
    // Puts text into the remote-station box and calls it, as if the user
    // had typed it and pressed Connect.
    void CallRemote(const std::string& text);
    void OnExitButton();
    void OnAboutButton();
    // The talk command: a click on Talk, when a call stands and Talk is
    // enabled, without raising the window; held back like a click while a
    // message plays. The reply: "recording", "sent", "nothing said" (no voice
    // was heard: nothing was sent), "queued", "no call", or "not recording"
    // (the recorder could not start; it has said why).
    std::string OnTalkCommand();

    // Where the icon of a minimised window stands in its client area.
    static QPoint IconPosition(QSize client, QSize icon);
    QIcon GetDragIcon() const { return icon_; }
    // The bitmap shown in a picture control (tests), or 0.
    int ShownBitmap(int controlId) const;

    // Whether input for receiver asks to end what the station does: a click
    // or the mnemonic of Disconnect or Exit, Escape, or the close box.
    bool IsStopGesture(QObject* receiver, QEvent* event);

    // StationView, on the GUI thread.
    void enableControl(int id, bool enabled) override;
    void setControlText(int id, const std::string& text) override;
    std::string controlText(int id) override;
    void setWindowCaption(const std::string& text) override;
    void setChecked(int id, bool checked) override;
    bool isChecked(int id) override;
    void showBitmap(int controlId, int bitmapId) override;
    void bringToFront() override;
    void announceSpeaker(const std::string& who) override;

  signals:
    // What the window shows of the call changed: the LED (a call connected
    // or ended) or Talk (down or up).
    void callStateShown();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    void PlaceControls();
    void BindButtons();
    // Connect with a remote text the station's encoding cannot hold: it
    // would be called as another text ('?' in place of what it lacks), so it
    // is not called; a message says why. False when the text can be called.
    bool RefuseUncallableRemote();

    Station& station_;
    QLabel* picture_ = nullptr;
    QLabel* led_ = nullptr;
    QPushButton* talk_ = nullptr;
    SortedComboBox* remote_ = nullptr;
    CaptionBox* statusBox_ = nullptr;
    RecordingDisplay* recording_ = nullptr;  // the meter and the clock while Talk is down

    std::string remoteText_;
    QIcon icon_;
    std::map<int, QPixmap> bitmaps_;  // loaded pictures by bitmap id
    std::map<int, int> shown_;        // picture control id -> bitmap id
    bool closing_ = false;
};

}  // namespace chatterly
