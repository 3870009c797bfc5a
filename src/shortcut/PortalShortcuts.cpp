#include "shortcut/PortalShortcuts.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

namespace chatterly {

QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcut& shortcut) {
    out.beginStructure();
    out << shortcut.id << shortcut.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.id >> shortcut.properties;
    in.endStructure();
    return in;
}

namespace {

const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// A value of the type named by signature, whether Qt D-Bus has unpacked it
// already or left it as an argument; nothing when it is of another type.
template <typename T>
std::optional<T> valueOf(const QVariant& value, const char* signature) {
    if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        const auto argument = value.value<QDBusArgument>();
        if (argument.currentSignature() != QLatin1String(signature)) {
            return std::nullopt;
        }
        return qdbus_cast<T>(argument);
    }
    if (value.userType() == qMetaTypeId<T>()) {
        return value.value<T>();
    }
    return std::nullopt;
}

// An object path sent as "o" or as "s".
QString pathOf(const QVariant& value) {
    if (value.userType() == qMetaTypeId<QDBusObjectPath>()) {
        return value.value<QDBusObjectPath>().path();
    }
    return value.userType() == QMetaType::QString ? value.toString() : QString();
}

}  // namespace

PortalShortcuts::PortalShortcuts(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), bus_(bus) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    if (!bus_.isConnected()) {
        return;
    }
    // Requests and sessions come and go: their signals are taken from any
    // path of the service and matched to the one awaited.
    bus_.connect(kService, QString(), kRequestInterface, "Response", this,
                 SLOT(onResponse(QDBusMessage)));
    bus_.connect(kService, QString(), kSessionInterface, "Closed", this,
                 SLOT(onClosed(QDBusMessage)));
    bus_.connect(kService, kPath, kInterface, "Activated", this, SLOT(onActivated(QDBusMessage)));
    bus_.connect(kService, kPath, kInterface, "Deactivated", this,
                 SLOT(onDeactivated(QDBusMessage)));
}

PortalShortcuts::~PortalShortcuts() {
    release();
}

void PortalShortcuts::bind(const ShortcutKey& key) {
    release();
    key_ = key;
    if (!bus_.isConnected()) {
        emit absent();
        return;
    }
    step_ = Step::Probing;
    QDBusMessage probe =
        QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Properties", "Get");
    probe << QString::fromLatin1(kInterface) << QStringLiteral("version");
    callAsync(probe, [this](const QDBusMessage& reply) { createSession(reply); });
}

void PortalShortcuts::release() {
    ++attempt_;
    if (!session_.isEmpty() && bus_.isConnected()) {
        bus_.send(QDBusMessage::createMethodCall(kService, session_, kSessionInterface, "Close"));
    }
    session_.clear();
    requestPath_.clear();
    step_ = Step::Idle;
}

void PortalShortcuts::callAsync(const QDBusMessage& call,
                                std::function<void(const QDBusMessage&)> onReply) {
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, attempt = attempt_, onReply = std::move(onReply)](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                if (attempt == attempt_) {
                    onReply(w->reply());
                }
            });
}

QString PortalShortcuts::newRequest() {
    const QString token = QStringLiteral("chatterly%1").arg(++tokens_);
    // The service names the request after the caller's unique name, ':'
    // dropped and '.' made '_'.
    QString sender = bus_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    requestPath_ = QStringLiteral("%1/request/%2/%3").arg(kPath, sender, token);
    return token;
}

void PortalShortcuts::createSession(const QDBusMessage& versionReply) {
    if (versionReply.type() != QDBusMessage::ReplyMessage || versionReply.arguments().size() != 1) {
        step_ = Step::Idle;
        emit absent();
        return;
    }
    step_ = Step::Creating;
    const QString token = newRequest();
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, "CreateSession");
    call << QVariantMap{{"handle_token", token}, {"session_handle_token", token}};
    callAsync(call, [this](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage) {
            fail();
        } else if (!reply.arguments().isEmpty()) {
            // An older service chooses the request path itself.
            const QString path = pathOf(reply.arguments().constFirst());
            if (!path.isEmpty()) {
                requestPath_ = path;
            }
        }
    });
}

void PortalShortcuts::onResponse(const QDBusMessage& message) {
    if (requestPath_.isEmpty() || message.path() != requestPath_) {
        return;
    }
    requestPath_.clear();
    const QVariantList args = message.arguments();
    const auto results =
        args.size() == 2 ? valueOf<QVariantMap>(args[1], "a{sv}") : std::optional<QVariantMap>();
    if (!results || args[0].userType() != QMetaType::UInt) {
        fail();
        return;
    }
    const uint32_t response = args[0].toUInt();
    if (step_ == Step::Creating) {
        bindShortcut(response, *results);
    } else if (step_ == Step::Binding) {
        takeBinding(response, *results);
    }
}

void PortalShortcuts::bindShortcut(uint32_t response, const QVariantMap& results) {
    session_ = pathOf(results.value("session_handle"));
    if (response != 0 || session_.isEmpty()) {
        fail();
        return;
    }
    step_ = Step::Binding;
    const QString token = newRequest();
    const QList<PortalShortcut> shortcuts{
        {kShortcutId,
         {{"description", QStringLiteral("Talk")}, {"preferred_trigger", key_.portalTrigger()}}}};
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, "BindShortcuts");
    call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(shortcuts)
         << QString() << QVariantMap{{"handle_token", token}};
    callAsync(call, [this](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage) {
            fail();
        }
    });
}

void PortalShortcuts::takeBinding(uint32_t response, const QVariantMap& results) {
    const auto shortcuts = valueOf<QList<PortalShortcut>>(results.value("shortcuts"), "a(sa{sv})");
    const bool ours = shortcuts && std::any_of(shortcuts->begin(), shortcuts->end(),
                                               [](const auto& s) { return s.id == kShortcutId; });
    if (response != 0 || !ours) {
        fail();
        return;
    }
    step_ = Step::Bound;
    emit bound();
}

void PortalShortcuts::fail() {
    release();
    emit refused();
}

bool PortalShortcuts::isOurs(const QDBusMessage& message, uint64_t& time) const {
    const QVariantList args = message.arguments();
    if (step_ != Step::Bound || args.size() < 3 || pathOf(args[0]) != session_ ||
        args[1].userType() != QMetaType::QString || args[1].toString() != kShortcutId ||
        args[2].userType() != QMetaType::ULongLong) {
        return false;
    }
    time = args[2].toULongLong();
    return true;
}

void PortalShortcuts::onActivated(const QDBusMessage& message) {
    uint64_t time = 0;
    if (isOurs(message, time)) {
        emit activated(time);
    }
}

void PortalShortcuts::onDeactivated(const QDBusMessage& message) {
    uint64_t time = 0;
    if (isOurs(message, time)) {
        emit deactivated(time);
    }
}

void PortalShortcuts::onClosed(const QDBusMessage& message) {
    if (session_.isEmpty() || message.path() != session_) {
        return;
    }
    const bool wasBound = step_ == Step::Bound;
    session_.clear();  // closed already: nothing to close
    release();
    if (wasBound) {
        emit closed();
    } else {
        emit refused();
    }
}

}  // namespace chatterly
