#include "app/CStationDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QWindow>

#include "app/RecordingDisplay.h"
#include "app/Station.h"
#include "app/StationWindowAccess.h"
#include "audio/VoiceRecorder.h"
#include "control/CallController.h"
#include "control/ControlIds.h"
#include "framework/streams/AnsiCodec.h"
#include "framework/threads/ErrorReport.h"
#include "framework/widgets/CaptionBox.h"
#include "framework/widgets/DesktopNotice.h"
#include "framework/widgets/InputHold.h"
#include "framework/widgets/LevelMeter.h"
#include "framework/widgets/MessageBox.h"
#include "framework/widgets/SortedComboBox.h"
#include "framework/widgets/StatusLine.h"
#include "framework/widgets/StopGesture.h"
#include "resources/StringTable.h"

namespace chatterly {
namespace {

QString pictureResource(int bitmapId) {
    return QStringLiteral(":/bitmap%1.bmp").arg(bitmapId);
}

}  // namespace

namespace {

// The template's 151 dialog units, and two rows beneath its controls for
// what the station adds: the status line, the Nearby and the History button;
// then the microphone's level, the recording's time and the Settings button.
constexpr int kTemplateHeight = 151;
constexpr int kRowY = 149;
constexpr int kRecordingRowY = kRowY + 16;
constexpr int kWindowHeight = kTemplateHeight + 32;

}  // namespace

CStationDlg::CStationDlg(Station& station)
    : CDialog({QStringLiteral("Chatterly"), 216, kWindowHeight, true, 0}, nullptr),
      station_(station) {
    initResources();
    PlaceControls();
    BindButtons();
    icon_ = QIcon(QStringLiteral(":/icon128.ico"));
}

CStationDlg::~CStationDlg() = default;

void CStationDlg::PlaceControls() {
    remote_ = AddControl(IDC_REMOTE, new SortedComboBox(this), 73, 7, 136, 53);
    // The template's height includes the open list; the closed box is as
    // tall as the style makes it.
    remote_->resize(remote_->width(), remote_->sizeHint().height());
    remote_->setMaxVisibleItems(5);
    AddButton(IDC_CONNECT, "&Connect", 149, 63, 50, 14)->setDefault(true);
    talk_ = AddButton(IDC_TALK, "&Talk", 7, 120, 129, 24, true);
    AddButton(IDC_DISCONNECT, "&Disconnect", 149, 79, 50, 14);
    AddButton(IDC_PROPERTIES, "&Properties", 149, 95, 50, 14);
    AddButton(IDC_ABOUT, "&About", 149, 111, 50, 14);
    AddButton(IDC_EXIT, "E&xit", 149, 127, 50, 14);
    picture_ = AddControl(IDC_SPEAKER, new QLabel(this), 7, 26, 129, 90);
    picture_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picture_->setAlignment(Qt::AlignCenter);
    led_ = AddControl(IDC_LED, new QLabel(this), 156, 30, 36, 31);
    led_->setAlignment(Qt::AlignCenter);
    statusBox_ =
        AddControl(IDC_STATUS_BOX, new CaptionBox(QStringLiteral("Connection Status"), this), 140,
                   23, 69, 121);
    statusBox_->lower();
    AddButton(IDC_REMOTE_STATION, "Remote Parlio", 7, 7, 62, 13);
    AddControl(IDC_STATUS_LINE, new StatusLine(this), 7, kRowY + 2, 88, 10);
    AddButton(IDC_NEARBY, "&Nearby", 97, kRowY, 50, 14);
    AddButton(IDC_HISTORY, "&History", 149, kRowY, 60, 14);
    auto* meter = AddControl(IDC_LEVEL_METER, new LevelMeter(this), 7, kRecordingRowY + 3, 76, 8);
    auto* clock = AddControl(IDC_RECORDING_CLOCK, new QLabel(this), 87, kRecordingRowY + 2, 60, 10);
    recording_ = new RecordingDisplay(meter, clock, this);
    AddButton(IDC_SETTINGS, "S&ettings", 149, kRecordingRowY, 60, 14);
    EndTemplate();
    SetEnterButton(IDC_CONNECT);
    describeStationControls(*this);
}

std::string CStationDlg::OnTalkCommand() {
    if (!talk_->isEnabled()) {
        return "no call";
    }
    if (InputHold::holdBack(talk_, [talk = talk_] { talk->click(); })) {
        return "queued";
    }
    const bool pressing = !talk_->isChecked();
    const uint64_t releases = station_.recorder().releases();
    talk_->click();
    if (talk_->isChecked()) {
        return "recording";
    }
    if (pressing) {
        return "not recording";
    }
    // An outgoing call's worker makes the release after this click: its end
    // is awaited while the call stands.
    const auto release = station_.recorder().releaseAfter(
        releases, [this] { return talk_->isEnabled(); }, std::chrono::seconds(10));
    return release == VoiceRecorder::Release::NothingSaid ? "nothing said" : "sent";
}

void CStationDlg::BindButtons() {
    Station& s = station_;
    Bind(IDC_CONNECT, [this] { OnConnectButton(); });
    Bind(IDC_TALK, [&s] { s.controller().OnTalkButton(); });
    // Talk is down while a recording is made, on either end of a call and
    // whoever moves it (the user, or a call that ends).
    connect(talk_, &QPushButton::toggled, this, [this, &s](bool down) {
        if (down) {
            recording_->start(s.recorder().device().level());
        } else {
            recording_->stop();
        }
        emit callStateShown();
    });
    Bind(IDC_DISCONNECT, [&s] { s.controller().Disconnect(); });
    Bind(IDC_PROPERTIES, [&s] { s.controller().OnPropertiesButton(); });
    Bind(IDC_REMOTE_STATION, [&s] { s.OnRemoteStationButton(); });
    Bind(IDC_HISTORY, [&s] { s.OnHistoryButton(); });
    Bind(IDC_NEARBY, [&s] { s.OnNearbyButton(); });
    Bind(IDC_SETTINGS, [&s] { s.OnSettingsButton(); });
    Bind(IDC_ABOUT, [this] { OnAboutButton(); });
    Bind(IDC_EXIT, [this] { OnExitButton(); });
}

void CStationDlg::InitDialog() {
    ExchangeControlData(false);
    setWindowIcon(icon_);
    for (int id : {IDB_LED_CONNECTED, IDB_LED_IDLE, IDB_SPEAKER_REST, IDB_SPEAKER_RING1,
                   IDB_SPEAKER_RING2}) {
        bitmaps_[id] = QPixmap(pictureResource(id));
    }
    showBitmap(IDC_SPEAKER, IDB_SPEAKER_REST);
}

void CStationDlg::ExchangeControlData(bool save) {
    if (save) {
        remoteText_ = AnsiCodec::fromQString(remote_->currentText());
    } else {
        remote_->setEditText(AnsiCodec::toQString(remoteText_));
    }
}

void CStationDlg::OnConnectButton() {
    if (!RefuseUncallableRemote()) {
        station_.controller().OnConnectButton();
    }
}

void CStationDlg::CallRemote(const std::string& text) {
    remote_->setEditText(AnsiCodec::toQString(text));
    bringToFront();
    OnConnectButton();
}

bool CStationDlg::RefuseUncallableRemote() {
    const QString text = remote_->currentText();
    const QString missing = AnsiCodec::unencodable(text);
    if (missing.isEmpty()) {
        return false;
    }
    MessageBox::show(QStringLiteral("\"") + text +
                     QStringLiteral("\" cannot be called: an address, host name or alias cannot "
                                    "hold the characters ") +
                     missing + QLatin1Char('.'));
    return true;
}

void CStationDlg::FillRemoteBox(std::vector<std::string> texts) {
    remote_->setSorted(std::move(texts));
}

void CStationDlg::OnExitButton() {
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CStationDlg::OnAboutButton() {
    MessageBox::show("Chatterly " CHATTERLY_VERSION
                     "\n\n"
                     "A push-to-talk voice station for the local network: press Talk, speak, "
                     "press Talk again, and the other station hears you.\n\n"
                     "Help: press F1, or read the manual page chatterly(1).",
                     MessageIcon::Information);
}

void CStationDlg::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        closing_ = true;
        ErrorReport::run([this] { station_.controller().OnCloseRequest(); });
    }
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void CStationDlg::reject() {
    // Escape never ends the station (while a message plays, it stops the
    // message: a stop gesture); Exit, Alt+X and the close box do.
    if (closing_) {
        QDialog::reject();
    }
}

QPoint CStationDlg::IconPosition(QSize client, QSize icon) {
    return QPoint((client.width() - icon.width() + 1) / 2,
                  (client.height() - icon.height() + 1) / 2);
}

void CStationDlg::paintEvent(QPaintEvent* event) {
    if (isMinimized()) {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        const int side = style()->pixelMetric(QStyle::PM_LargeIconSize);
        const QSize iconSize(side, side);
        painter.drawPixmap(IconPosition(size(), iconSize), icon_.pixmap(iconSize));
        return;
    }
    CDialog::paintEvent(event);
}

void CStationDlg::enableControl(int id, bool enabled) {
    if (QWidget* w = Control(id)) {
        w->setEnabled(enabled);
    }
}

void CStationDlg::setControlText(int id, const std::string& text) {
    const QString t = AnsiCodec::toQString(text);
    if (auto* b = qobject_cast<QPushButton*>(Control(id))) {
        b->setText(t);
    } else if (auto* box = qobject_cast<CaptionBox*>(Control(id))) {
        box->setCaption(t);
    } else if (id == IDC_REMOTE) {
        remote_->setEditText(t);
    }
}

std::string CStationDlg::controlText(int id) {
    if (auto* b = qobject_cast<QPushButton*>(Control(id))) {
        return AnsiCodec::fromQString(b->text());
    }
    if (auto* box = qobject_cast<CaptionBox*>(Control(id))) {
        return AnsiCodec::fromQString(box->caption());
    }
    if (id == IDC_REMOTE) {
        ExchangeControlData(true);
        return remoteText_;
    }
    return {};
}

void CStationDlg::setWindowCaption(const std::string& text) {
    setWindowTitle(AnsiCodec::toQString(text));
}

void CStationDlg::setChecked(int id, bool checked) {
    if (auto* b = qobject_cast<QPushButton*>(Control(id))) {
        b->setChecked(checked);
    }
}

bool CStationDlg::isChecked(int id) {
    auto* b = qobject_cast<QPushButton*>(Control(id));
    return b && b->isChecked();
}

void CStationDlg::showBitmap(int controlId, int bitmapId) {
    auto* label = qobject_cast<QLabel*>(Control(controlId));
    if (!label) {
        return;
    }
    label->setPixmap(bitmaps_[bitmapId]);
    shown_[controlId] = bitmapId;
    if (controlId == IDC_LED) {
        emit callStateShown();
    }
    // Paint now: the GUI thread may be busy playing sound, serving only
    // window requests, while the animation runs.
    label->repaint();
}

int CStationDlg::ShownBitmap(int controlId) const {
    auto it = shown_.find(controlId);
    return it == shown_.end() ? 0 : it->second;
}

bool CStationDlg::IsStopGesture(QObject* receiver, QEvent* event) {
    return StopGesture::matches(*this, receiver, event,
                                {Control(IDC_DISCONNECT), Control(IDC_EXIT)}, true);
}

void CStationDlg::announceSpeaker(const std::string& who) {
    if (isActiveWindow()) {
        return;
    }
    QApplication::alert(this);
    DesktopNotice::show(AnsiCodec::toQString(who) + QStringLiteral(" is speaking"));
}

void CStationDlg::bringToFront() {
    if (isMinimized()) {
        showNormal();
    }
    raise();
    activateWindow();
}

}  // namespace chatterly
