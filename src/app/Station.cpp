#include "app/Station.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/CStationDlg.h"
#include "app/SettingsDialog.h"
#include "app/StationCalls.h"
#include "app/StationHistory.h"
#include "app/StationSettings.h"
#include "app/StationTray.h"
#include "audio/Playback.h"
#include "audio/VoiceRecorder.h"
#include "audio/WavDecoder.h"
#include "control/CallController.h"
#include "control/ControlIds.h"
#include "control/StationViewProxy.h"
#include "control/TalkButton.h"
#include "discovery/Discovery.h"
#include "discovery/FoundStations.h"
#include "discovery/NearbyWindow.h"
#include "framework/streams/AnsiCodec.h"
#include "framework/threads/ErrorReport.h"
#include "framework/threads/ThreadLoop.h"
#include "framework/threads/WindowRequests.h"
#include "framework/widgets/InputHold.h"
#include "framework/widgets/MessageBox.h"
#include "framework/widgets/StatusLine.h"
#include "history/HistoryStore.h"
#include "history/HistoryWindow.h"
#include "memory/CMemoryDlg.h"
#include "memory/StationMemory.h"
#include "net/CallerWorker.h"
#include "shortcut/GlobalShortcut.h"

namespace chatterly {
namespace {

// While a message plays on the GUI thread the window keeps painting and its
// user input waits; a stop gesture ends the message at once, and then takes
// effect like the rest of the input. Network notifications wait too: the
// connection that plays is not read again meanwhile.
void waitWhilePlaying(const QPointer<CStationDlg>& window, const QPointer<HistoryWindow>& history,
                      const std::function<bool()>& played) {
    const ThreadLoop::NetworkHold hold;
    const InputHold input(
        [window, history](QObject* receiver, QEvent* event) {
            return (window && window->IsStopGesture(receiver, event)) ||
                   (history && history->isStopGesture(receiver, event));
        },
        [] { Playback::stopMessages(); });
    ThreadLoop::current().pumpUntil(played);
}

HistoryStore::Options historyOptions(const StationOptions& options,
                                     const StationSettings& settings) {
    HistoryStore::Options history;
    history.directory = options.historyDirectory;
    history.capBytes = static_cast<uint64_t>(settings.historyCapMiB()) << 20;
    history.playingTimeOf = [](const std::vector<uint8_t>& image) {
        return WavDecoder::playingMs(image.data(), image.size());
    };
    return history;
}

// A window of the station's own, opened or brought forward with the focus.
void bringForward(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace

Station::Station(StationOptions options)
    : options_(std::move(options)),
      settings_(std::make_unique<StationSettings>(options_.settingsFile)),
      store_(std::make_shared<HistoryStore>(historyOptions(options_, *settings_))),
      window_(std::make_unique<CStationDlg>(*this)),
      proxy_(StationViewProxy::make(window_.get())),
      displays_(StatusDisplays::make(proxy_, options_.clock)),
      talk_(std::make_shared<TalkButton>(proxy_)),
      recorder_(std::make_shared<VoiceRecorder>(talk_, options_.recorder)),
      memory_(std::make_shared<StationMemory>()),
      caller_(std::make_shared<CallerWorker>(
          CallerWorker::Options{options_.callPort, options_.connectLimit})),
      history_(std::make_shared<StationHistory>(
          store_, *settings_,
          [displays = displays_](bool on) { displays->PlaybackAnimation(on); })),
      calls_(
          std::make_shared<StationCalls>(proxy_, displays_, recorder_, memory_, caller_, history_)),
      controller_(std::make_shared<CallController>(proxy_, displays_, talk_, calls_)),
      listener_(std::make_unique<CListeningSocket>(calls_.get())),
      found_(std::make_unique<FoundStations>(options_.callPort)) {
    calls_->setController(controller_);
    recorder_->setCleanUp(settings_->cleanUp());
    Playback::setGuiWait(
        [this, window = QPointer<CStationDlg>(window_.get())](const std::function<bool()>& played) {
            waitWhilePlaying(window, QPointer<HistoryWindow>(historyWindow_.get()), played);
        });
    // A change made on a worker reaches the GUI thread as a window request;
    // the window is brought up to date once the GUI thread is free.
    store_->setOnChange([alive = std::weak_ptr<bool>(alive_), this] {
        const auto changed = [&alive, this] {
            if (alive.lock() && !historyChangePending_) {
                historyChangePending_ = true;
                QTimer::singleShot(0, window_.get(), [this] {
                    historyChangePending_ = false;
                    historyChanged();
                });
            }
        };
        if (WindowRequests::isGuiThread()) {
            changed();
        } else {
            WindowRequests::run(changed);
        }
    });
    // A flood of announcements changes the list many times a second; the
    // window follows at most every 100 ms.
    found_->setOnChange([this] {
        if (!nearbyChangePending_) {
            nearbyChangePending_ = true;
            QTimer::singleShot(100, window_.get(), [this] {
                nearbyChangePending_ = false;
                nearbyChanged();
            });
        }
    });
    makeTray();
    historyChanged();
    if (!store_->error().empty()) {
        StatusLine::post(QString::fromStdString(store_->error()));
    }
}

Station::~Station() {
    // The announcement is withdrawn first, whichever way the station ends.
    discovery_.reset();
    shortcut_.reset();
    found_->setOnChange(nullptr);
    nearbyWindow_.reset();
    Playback::setGuiWait(nullptr);
    store_->setOnChange(nullptr);
    historyWindow_.reset();
    caller_->cancel();
    recorder_->CloseRecorder();
    // Closes every connection the station accepted, then the listener.
    listener_.reset();
    calls_->detach();
    proxy_->detach();
}

bool Station::InitStationWindow() {
    window_->InitDialog();
    controller_->SetConnectedControls(false);
    // Without a recorder the listener is not opened; the memory is loaded in
    // every start state, so that a confirmed memory dialog never writes an
    // empty list over the stored stations.
    if (recorder_->OpenRecorder()) {
        openListener();
    }
    ErrorReport::run([this] { LoadMemory(); });
    if (options_.discovery) {
        QTimer::singleShot(0, window_.get(), [this] { startDiscovery(); });
    }
    takeTalkKey();
    return true;
}

void Station::startDiscovery() {
    Discovery::Options options;
    options.name = settings_->stationName();
    options.port = listeningPort();  // 0 while not listening: found, not announced
    options.txt = {"txtvers=1", "version=" CHATTERLY_VERSION};
    options.notice = [](const QString& text) { StatusLine::post(text); };
    discovery_ = std::make_unique<Discovery>(*found_, std::move(options));
}

void Station::OnNearbyButton() {
    if (!nearbyWindow_) {
        NearbyWindow::Actions actions;
        actions.call = [this](const std::string& address) { window_->CallRemote(address); };
        actions.addToMemory = [this](const FoundStations::Row& row) {
            addToMemory(row.name, row.address, row.hostName);
        };
        nearbyWindow_ = std::make_unique<NearbyWindow>(
            *found_,
            [this](const std::string& address) -> std::optional<QString> {
                if (const auto alias = memory_->AliasByAddress().Lookup(address)) {
                    return AnsiCodec::toQString(*alias);
                }
                return std::nullopt;
            },
            std::move(actions));
    }
    nearbyWindow_->refresh();
    bringForward(*nearbyWindow_);
}

void Station::nearbyChanged() {
    const size_t shown = found_->shownCount();
    window_->setControlText(
        IDC_NEARBY, shown > 0 ? "&Nearby (" + std::to_string(shown) + ")" : std::string("&Nearby"));
    if (nearbyWindow_) {
        nearbyWindow_->refresh();
    }
}

void Station::addToMemory(const QString& name, const std::string& address,
                          const QString& hostName) {
    const bool nameFits = !name.isEmpty() && AnsiCodec::unencodable(name).isEmpty();
    OnRemoteStationButton(std::pair(QString::fromStdString(address), nameFits ? name : hostName));
}

void Station::OnTerminationRequest() {
    Playback::stopMessages();
    // Dialogs and boxes above the window end as if cancelled, so that
    // nothing waits for an answer no one will give; the memory stays as it
    // was.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(w);
        if (dialog && dialog != window_.get() && dialog->isVisible() && dialog->isModal()) {
            dialog->done(QDialog::Rejected);
        }
    }
    window_->OnExitButton();
}

int Station::runModal() {
    if (InitStationWindow()) {
        window_->FocusFirstControl();
    }
    return window_->DoModal();
}

bool Station::openListener() {
    if (listener_->Create(options_.listenPort, FD_ALL_EVENTS) && listener_->Listen(5)) {
        return true;
    }
    // A port that is taken, or a listen the system refused: either way no
    // call can reach this station.
    listener_->Close();
    MessageBox::show("Failed to create a listening socket");
    talk_->disableTalk();
    return false;
}

uint16_t Station::listeningPort() const {
    return listener_->LocalPort();
}

std::shared_ptr<StationView> Station::viewProxy() const {
    return proxy_;
}

void Station::OnHistoryButton() {
    if (!historyWindow_) {
        historyWindow_ = std::make_unique<HistoryWindow>(*store_, *history_);
    }
    historyWindow_->refresh();
    bringForward(*historyWindow_);
}

void Station::OnSettingsButton() {
    if (settingsDialog_) {  // from the tray while it is open
        bringForward(*settingsDialog_);
        return;
    }
    SettingsDialog dialog(settings_->choices(),
                          discovery_ ? discovery_->announcedName() : QString(), window_.get());
    settingsDialog_ = &dialog;
    showShortcut();
    if (dialog.exec() == QDialog::Accepted) {
        applySettings(dialog.choices());
    }
}

void Station::takeTalkKey() {
    const QKeySequence key(QString::fromStdString(settings_->talkKey()));
    if (key.isEmpty() && !shortcut_) {
        return;  // nothing chosen, nothing taken
    }
    if (!shortcut_) {
        shortcut_ = std::make_unique<GlobalShortcut>();
        // A press of the key is a press of Talk, as the talk command makes it.
        QObject::connect(shortcut_.get(), &GlobalShortcut::talkPressed, window_.get(),
                         [this] { (void)window_->OnTalkCommand(); });
        // A key that could not be taken is said on the status line too: the
        // Settings dialog may have closed before the desktop answered.
        QObject::connect(shortcut_.get(), &GlobalShortcut::stateChanged, window_.get(), [this] {
            showShortcut();
            if (!shortcut_->problem().isEmpty()) {
                StatusLine::post(shortcut_->problem());
            }
        });
    }
    shortcut_->setKey(key, settings_->talkKeyHolds() ? ShortcutMode::Hold : ShortcutMode::Toggle);
    showShortcut();
}

void Station::showShortcut() {
    if (settingsDialog_) {
        settingsDialog_->showShortcut(
            routeName(shortcut_ ? shortcut_->route() : ShortcutRoute::None),
            shortcut_ ? shortcut_->problem() : QString());
    }
}

void Station::applySettings(const StationSettings::Choices& choices) {
    const std::string name = settings_->stationName();
    const StationSettings::Choices was = settings_->choices();
    if (!settings_->setChoices(choices)) {
        StatusLine::post(QStringLiteral("The settings could not be saved in ") +
                         QString::fromLatin1(StationSettings::kFileName) + QLatin1Char('.'));
    }
    store_->setCap(static_cast<uint64_t>(settings_->historyCapMiB()) << 20);
    recorder_->setCleanUp(settings_->cleanUp());
    history_->followSettings();
    if (historyWindow_) {
        historyWindow_->refresh();  // its Hold messages and speed checks
    }
    tray_->update();
    // The key is taken again only when it changed: the desktop may ask the
    // user each time.
    if (choices.talkKey != was.talkKey || choices.talkKeyHolds != was.talkKeyHolds) {
        takeTalkKey();
    }
    // A new name is announced by a new announcement; the old one is withdrawn.
    if (discovery_ && settings_->stationName() != name) {
        discovery_.reset();
        startDiscovery();
    }
}

void Station::historyChanged() {
    const int waiting = store_->unplayedCount();
    window_->setControlText(IDC_HISTORY, waiting > 0 ? "&History (" + std::to_string(waiting) + ")"
                                                     : std::string("&History"));
    if (historyWindow_) {
        historyWindow_->refresh();
    }
    tray_->update();
}

void Station::LoadMemory() {
    if (auto texts = memory_->LoadMemory()) {
        window_->FillRemoteBox(std::move(*texts));
    }
}

void Station::OnRemoteStationButton(std::optional<std::pair<QString, QString>> adding) {
    CMemoryDlg dialog(*memory_, window_.get());
    if (dialog.RunModal(std::move(adding)) != QDialog::Accepted) {
        return;
    }
    window_->FillRemoteBox(memory_->rebuildFromEntries(dialog.EntryList));
    memory_->SaveMemory();
    nearbyChanged();  // the found stations' aliases
}

// The tray reads the call from the window (the LED, Talk) and the history,
// and is told when either changes; its commands are the window's own.
void Station::makeTray() {
    const auto read = [this] {
        StationTray::Reading r;
        r.recording = window_->isChecked(IDC_TALK);
        r.inCall = window_->ShownBitmap(IDC_LED) == IDB_LED_CONNECTED;
        r.with = AnsiCodec::toQString(calls_->incomingConnection() ? calls_->incomingCallerName()
                                                                   : controller_->remoteText());
        r.unplayed = store_->unplayedCount();
        r.hold = history_->holdMessages();
        return r;
    };
    StationTray::Actions actions;
    actions.show = [this] {
        window_->show();
        window_->bringToFront();
    };
    actions.talk = [this] { window_->OnTalkCommand(); };
    actions.hold = [this](bool on) {
        history_->setHoldMessages(on);
        if (historyWindow_) {
            historyWindow_->refresh();
        }
    };
    actions.history = [this] { OnHistoryButton(); };
    actions.settings = [this] { OnSettingsButton(); };
    actions.exit = [this] { window_->OnExitButton(); };
    tray_ = std::make_unique<StationTray>(read, std::move(actions),
                                          QSystemTrayIcon::isSystemTrayAvailable());
    QObject::connect(window_.get(), &CStationDlg::callStateShown, tray_.get(),
                     &StationTray::update);
}

}  // namespace chatterly
