#include "app/CStationDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "app/SoundSettings.h"
#include "app/StationCalls.h"
#include "audio/VoiceRecorder.h"
#include "control/ControlIds.h"
#include "framework/AnsiCodec.h"
#include "framework/CAsyncSocket.h"
#include "framework/CSocketFile.h"
#include "framework/DialogUnits.h"
#include "framework/ErrorReport.h"
#include "framework/MessageBox.h"
#include "framework/SortedComboBox.h"
#include "framework/ThreadStarter.h"
#include "framework/WindowRequests.h"
#include "memory/CMemoryDlg.h"
#include "memory/StationMemory.h"
#include "net/CConnectionSocket.h"
#include "net/CListeningSocket.h"
#include "resources/StringTable.h"

namespace chatterly {
namespace {

constexpr int kTemplateWidth = 216;
constexpr int kTemplateHeight = 151;

QString pictureResource(int bitmapId) {
    return QStringLiteral(":/bitmap%1.bmp").arg(bitmapId);
}

}  // namespace

CStationDlg::CStationDlg(StationOptions options) : QDialog(nullptr), options_(std::move(options)) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogUnits::dialogFont());
    setWindowTitle(QStringLiteral("Chatterly"));
    InitResources();
    buildControls();
    icon_ = QIcon(QStringLiteral(":/icon128.ico"));

    proxy_ = StationViewProxy::make(this);
    displays_ = StatusDisplays::make(proxy_, options_.clock);
    calls_ = std::make_shared<StationCalls>(displays_);
    memory_ = std::make_shared<StationMemory>();

    // The controller's hooks run on whichever thread called it; those that
    // touch this window's state go through window requests and do nothing
    // once it has gone.
    QPointer<CStationDlg> self(this);
    auto onWindow = [self](void (CStationDlg::*op)()) {
        return [self, op] {
            WindowRequests::run([&] {
                if (self) {
                    (self.data()->*op)();
                }
            });
        };
    };
    CallHooks hooks;
    hooks.startCaller = onWindow(&CStationDlg::StartCallerThread);
    RecorderControls talk;
    talk.disableTalk = [proxy = std::weak_ptr<StationView>(proxy_)] {
        if (auto view = proxy.lock()) {
            view->EnableControl(IDC_TALK, false);
        }
    };
    talk.uncheckTalk = [proxy = std::weak_ptr<StationView>(proxy_)] {
        if (auto view = proxy.lock()) {
            view->SetChecked(IDC_TALK, false);
        }
    };
    recorder_ = std::make_shared<VoiceRecorder>(std::move(talk), options_.recorder);
    hooks.startRecording = [recorder = recorder_] { return recorder->StartRecording(); };
    hooks.stopAndSendRecording = onWindow(&CStationDlg::StopAndSendRecording);
    hooks.closeIncoming = [calls = calls_] { calls->CloseIncoming(); };
    hooks.clearIncoming = [calls = calls_] { calls->ClearIncoming(); };
    hooks.incomingPeer = [calls = calls_, memory = memory_] {
        return memory->CallerName(calls->IncomingPeerAddress());
    };
    hooks.startProperties = [] { SoundSettings::Start(); };
    controller_ = std::make_shared<CallController>(proxy_, displays_, std::move(hooks));
    calls_->SetController(controller_);
    listener_ = std::make_unique<CListeningSocket>(calls_.get());
}

CStationDlg::~CStationDlg() {
    CloseRecorder();
    // Closes every connection the station accepted, then the listener.
    listener_.reset();
    calls_->Detach();
    proxy_->Detach();
}

uint16_t CStationDlg::listeningPort() const {
    return listener_->LocalPort();
}

void CStationDlg::buildControls() {
    const DialogUnits du(font());
    setFixedSize(du.x(kTemplateWidth), du.y(kTemplateHeight));

    remote_ = new SortedComboBox(this);
    // The template's height includes the open list; the closed box is as
    // tall as the style makes it.
    remote_->setGeometry(du.x(73), du.y(7), du.x(136), remote_->sizeHint().height());
    remote_->setMaxVisibleItems(5);

    auto button = [&](int id, const char* caption, QRect where) {
        auto* b = new QPushButton(QString::fromLatin1(caption), this);
        b->setGeometry(where);
        b->setAutoDefault(false);
        controls_[id] = b;
        return b;
    };
    auto* connectButton = button(IDC_CONNECT, "&Connect", du.rect(149, 63, 50, 14));
    connectButton->setDefault(true);
    talk_ = button(IDC_TALK, "&Talk", du.rect(7, 120, 129, 24));
    talk_->setCheckable(true);
    auto* disconnectButton = button(IDC_DISCONNECT, "&Disconnect", du.rect(149, 79, 50, 14));
    auto* properties = button(IDC_PROPERTIES, "&Properties", du.rect(149, 95, 50, 14));
    auto* about = button(IDC_ABOUT, "&About", du.rect(149, 111, 50, 14));
    auto* exitButton = button(IDC_EXIT, "E&xit", du.rect(149, 127, 50, 14));

    picture_ = new QLabel(this);
    picture_->setGeometry(du.rect(7, 26, 129, 90));
    picture_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picture_->setAlignment(Qt::AlignCenter);
    led_ = new QLabel(this);
    led_->setGeometry(du.rect(156, 30, 36, 31));
    led_->setAlignment(Qt::AlignCenter);
    statusBox_ = new QGroupBox(QStringLiteral("Connection Status"), this);
    statusBox_->setGeometry(du.rect(140, 23, 69, 121));
    statusBox_->lower();
    auto* remoteStation = button(IDC_REMOTE_STATION, "Remote Parlio", du.rect(7, 7, 62, 13));

    controls_[IDC_REMOTE] = remote_;
    controls_[IDC_SPEAKER] = picture_;
    controls_[IDC_LED] = led_;
    controls_[IDC_STATUS_BOX] = statusBox_;

    // Tab order is the template order.
    QWidget* order[] = {remote_,    connectButton, talk_,      disconnectButton,
                        properties, about,         exitButton, remoteStation};
    for (size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }

    bind(connectButton, &CStationDlg::OnConnectButton);
    bind(talk_, &CStationDlg::OnTalkButton);
    bind(disconnectButton, &CStationDlg::Disconnect);
    bind(exitButton, &CStationDlg::OnExitButton);
    bind(about, &CStationDlg::OnAboutButton);
    bind(remoteStation, &CStationDlg::OnRemoteStationButton);
    connect(properties, &QPushButton::clicked, this,
            [this] { ErrorReport::run([this] { controller_->OnPropertiesButton(); }); });
}

void CStationDlg::bind(QPushButton* button, void (CStationDlg::*handler)()) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { ErrorReport::run([this, handler] { (this->*handler)(); }); });
}

QWidget* CStationDlg::control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void CStationDlg::ExchangeControlData(bool save) {
    if (save) {
        remoteText_ = AnsiCodec::fromQString(remote_->currentText());
    } else {
        remote_->setEditText(AnsiCodec::toQString(remoteText_));
    }
}

bool CStationDlg::InitStationWindow() {
    ExchangeControlData(false);
    setWindowIcon(icon_);
    for (int id : {IDB_LED_CONNECTED, IDB_LED_IDLE, IDB_SPEAKER_REST, IDB_SPEAKER_RING1,
                   IDB_SPEAKER_RING2}) {
        bitmaps_[id] = QPixmap(pictureResource(id));
    }
    ShowBitmap(IDC_SPEAKER, IDB_SPEAKER_REST);
    SetConnectedControls(false);
    // Without a recorder the listener is not opened; the memory is loaded in
    // every start state, so that a confirmed memory dialog never writes an
    // empty list over the stored stations.
    if (OpenRecorder()) {
        OpenListener();
    }
    ErrorReport::run([this] { LoadMemory(); });
    return true;
}

void CStationDlg::LoadMemory() {
    if (auto texts = memory_->LoadMemory()) {
        fillRemoteBox(*texts);
    }
}

void CStationDlg::fillRemoteBox(const std::vector<std::string>& texts) {
    remote_->clear();
    remote_->clearEditText();
    for (const std::string& text : texts) {
        remote_->addSorted(AnsiCodec::toQString(text));
    }
}

void CStationDlg::OnRemoteStationButton() {
    CMemoryDlg dialog(*memory_, this);
    if (dialog.RunModal() != QDialog::Accepted) {
        return;
    }
    fillRemoteBox(memory_->RebuildFromEntries(dialog.EntryList));
    memory_->SaveMemory();
}

bool CStationDlg::OpenListener() {
    if (listener_->Create(options_.listenPort, FD_ALL_EVENTS) && listener_->Listen(5)) {
        return true;
    }
    // A port that is taken, or a listen the system refused: either way no
    // call can reach this station.
    listener_->Close();
    MessageBox::show("Failed to create a listening socket");
    EnableControl(IDC_TALK, false);
    return false;
}

int CStationDlg::RunModal() {
    InitStationWindow();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    show();
    raise();
    activateWindow();
    remote_->setFocus();
    return exec();
}

bool CStationDlg::OpenRecorder() {
    return recorder_->OpenRecorder();
}

void CStationDlg::CloseRecorder() {
    recorder_->CloseRecorder();
}

void CStationDlg::StopAndSendRecording() {
    CConnectionSocket* incoming = calls_->IncomingConnection();
    if (!incoming || !incoming->isOpen()) {
        // The call has gone under the press: keep the recording on disk,
        // send nothing.
        recorder_->StopAndSendRecording(nullptr);
        return;
    }
    CSocketFile connection(*incoming);
    recorder_->StopAndSendRecording(&connection);
}

void CStationDlg::StartCallerThread() {
    // Outgoing calls are not part of this station yet: a call fails as a
    // connect that did not go through.
    auto controller = controller_;
    ThreadStarter::start([controller] {
        MessageBox::show("Failed to connect to remote parlio.");
        controller->Disconnect();
    });
}

void CStationDlg::OnConnectButton() {
    ExchangeControlData(true);
    controller_->OnConnectButton();
}
void CStationDlg::OnTalkButton() {
    controller_->OnTalkButton();
}
void CStationDlg::Disconnect() {
    controller_->Disconnect();
}
void CStationDlg::SetConnectedControls(bool c) {
    controller_->SetConnectedControls(c);
}
void CStationDlg::SetIncomingState(bool a) {
    controller_->SetIncomingState(a);
}
void CStationDlg::PlaybackAnimation(bool start) {
    displays_->PlaybackAnimation(start);
}

void CStationDlg::OnExitButton() {
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CStationDlg::OnAboutButton() {
    MessageBox::show("Chatterly " CHATTERLY_VERSION
                     "\n\n"
                     "A push-to-talk voice station for the local network: press Talk, speak, "
                     "press Talk again, and the other station hears you.",
                     MessageIcon::Information);
}

void CStationDlg::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        closing_ = true;
        ErrorReport::run([this] { Disconnect(); });
        // Give the workers time to see their events, serving their window
        // requests meanwhile.
        WindowRequests::serveUntil([] { return false; }, std::chrono::milliseconds(500));
    }
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void CStationDlg::reject() {
    // Escape is a close request: the call ends before the window does.
    if (!closing_) {
        close();
    } else {
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
    QDialog::paintEvent(event);
}

void CStationDlg::EnableControl(int id, bool enabled) {
    if (QWidget* w = control(id)) {
        w->setEnabled(enabled);
    }
}

void CStationDlg::SetControlText(int id, const std::string& text) {
    const QString t = AnsiCodec::toQString(text);
    if (auto* b = qobject_cast<QPushButton*>(control(id))) {
        b->setText(t);
    } else if (auto* g = qobject_cast<QGroupBox*>(control(id))) {
        g->setTitle(t);
        g->repaint();
    } else if (id == IDC_REMOTE) {
        remote_->setEditText(t);
    }
}

std::string CStationDlg::ControlText(int id) {
    if (auto* b = qobject_cast<QPushButton*>(control(id))) {
        return AnsiCodec::fromQString(b->text());
    }
    if (auto* g = qobject_cast<QGroupBox*>(control(id))) {
        return AnsiCodec::fromQString(g->title());
    }
    if (id == IDC_REMOTE) {
        return AnsiCodec::fromQString(remote_->currentText());
    }
    return {};
}

void CStationDlg::SetWindowCaption(const std::string& text) {
    setWindowTitle(AnsiCodec::toQString(text));
}

void CStationDlg::SetChecked(int id, bool checked) {
    if (auto* b = qobject_cast<QPushButton*>(control(id))) {
        b->setChecked(checked);
    }
}

bool CStationDlg::IsChecked(int id) {
    auto* b = qobject_cast<QPushButton*>(control(id));
    return b && b->isChecked();
}

void CStationDlg::ShowBitmap(int controlId, int bitmapId) {
    auto* label = qobject_cast<QLabel*>(control(controlId));
    if (!label) {
        return;
    }
    label->setPixmap(bitmaps_[bitmapId]);
    shown_[controlId] = bitmapId;
    // Paint now: the GUI thread may be busy playing sound, serving only
    // window requests, while the animation runs.
    label->repaint();
}

int CStationDlg::shownBitmap(int controlId) const {
    auto it = shown_.find(controlId);
    return it == shown_.end() ? 0 : it->second;
}

void CStationDlg::BringToFront() {
    if (isMinimized()) {
        showNormal();
    }
    raise();
    activateWindow();
}

}  // namespace chatterly
