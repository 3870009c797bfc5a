#include "shortcut/GlobalShortcut.h"

#include "shortcut/PortalShortcuts.h"
#include "shortcut/X11KeyGrab.h"

namespace chatterly {
namespace {

// X11 sends an auto-repeated key as a release and a press with the same
// time, one right after the other; a release alone for this long is real.
constexpr auto kRepeatPairWait = std::chrono::milliseconds(20);

}  // namespace

QString routeName(ShortcutRoute route) {
    switch (route) {
        case ShortcutRoute::Portal:
            return QStringLiteral("the desktop's shortcut service");
        case ShortcutRoute::X11Grab:
            return QStringLiteral("an X11 key grab");
        case ShortcutRoute::None:
            break;
    }
    return QStringLiteral("none: bind chatterly --talk in the desktop's keyboard settings");
}

GlobalShortcut::GlobalShortcut(const QDBusConnection& bus, QObject* parent)
    : QObject(parent),
      portal_(std::make_unique<PortalShortcuts>(bus)),
      grab_(X11KeyGrab::onThisDisplay()) {
    settle_.setSingleShot(true);
    settle_.setInterval(kRepeatPairWait);
    connect(&settle_, &QTimer::timeout, this, [this] { press(presses_.settle()); });
    connect(portal_.get(), &PortalShortcuts::absent, this, &GlobalShortcut::takeOnX11);
    connect(portal_.get(), &PortalShortcuts::bound, this,
            [this] { setState(ShortcutRoute::Portal, {}); });
    connect(portal_.get(), &PortalShortcuts::refused, this, [this] {
        setState(ShortcutRoute::None,
                 QStringLiteral("The desktop refused the shortcut %1.").arg(key_->text()));
    });
    connect(portal_.get(), &PortalShortcuts::closed, this, [this] {
        press(presses_.reset());
        setState(ShortcutRoute::None,
                 QStringLiteral("The desktop took the shortcut %1 back.").arg(key_->text()));
    });
    connect(portal_.get(), &PortalShortcuts::activated, this, &GlobalShortcut::onDown);
    connect(portal_.get(), &PortalShortcuts::deactivated, this,
            [this](uint64_t time) { onUp(time, false); });
    if (grab_) {
        connect(grab_.get(), &X11KeyGrab::pressed, this, &GlobalShortcut::onDown);
        connect(grab_.get(), &X11KeyGrab::released, this,
                [this](uint64_t time) { onUp(time, true); });
    }
}

GlobalShortcut::~GlobalShortcut() = default;

void GlobalShortcut::setKey(const QKeySequence& key, ShortcutMode mode) {
    settle_.stop();
    press(presses_.reset());
    presses_ = ShortcutPresses(mode);
    portal_->release();
    if (grab_) {
        grab_->release();
    }
    key_ = ShortcutKey::from(key);
    if (!key_) {
        setState(ShortcutRoute::None, key.isEmpty()
                                          ? QString()
                                          : QStringLiteral("%1 cannot be a shortcut.")
                                                .arg(key.toString(QKeySequence::NativeText)));
        return;
    }
    setState(ShortcutRoute::None, {});
    portal_->bind(*key_);
}

void GlobalShortcut::takeOnX11() {
    if (!grab_) {
        setState(ShortcutRoute::None, {});
        return;
    }
    switch (grab_->grab(*key_)) {
        case X11KeyGrab::Result::Grabbed:
            setState(ShortcutRoute::X11Grab, {});
            break;
        case X11KeyGrab::Result::NoSuchKey:
            setState(ShortcutRoute::None,
                     QStringLiteral("The keyboard has no key %1.").arg(key_->text()));
            break;
        case X11KeyGrab::Result::Held:
            setState(ShortcutRoute::None,
                     QStringLiteral("Another program holds %1.").arg(key_->text()));
            break;
    }
}

void GlobalShortcut::setState(ShortcutRoute route, const QString& problem) {
    if (route == route_ && problem == problem_) {
        return;
    }
    route_ = route;
    problem_ = problem;
    emit stateChanged();
}

void GlobalShortcut::press(int times) {
    for (int i = 0; i < times; ++i) {
        emit talkPressed();
    }
}

void GlobalShortcut::onDown(uint64_t time) {
    settle_.stop();
    press(presses_.down(time));
}

void GlobalShortcut::onUp(uint64_t time, bool repeatsAsPairs) {
    presses_.up(time);
    if (repeatsAsPairs) {
        settle_.start();
    } else {
        press(presses_.settle());
    }
}

}  // namespace chatterly
