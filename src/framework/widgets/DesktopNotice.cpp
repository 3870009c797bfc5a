#include "framework/widgets/DesktopNotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace chatterly {
namespace {

constexpr int kReplyLimitMs = 5000;

// The id of the last notice shown, which the next one replaces (0: none).
quint32 lastNotice = 0;

}  // namespace

void DesktopNotice::show(const QString& summary) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QString::fromLatin1(kIcon)}};
    call << QStringLiteral("Chatterly") << lastNotice << QString::fromLatin1(kIcon) << summary
         << QString() << QStringList() << hints << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kReplyLimitMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [](QDBusPendingCallWatcher* answered) {
                         const QDBusPendingReply<quint32> reply = *answered;
                         if (reply.isValid()) {
                             lastNotice = reply.value();
                         }
                         answered->deleteLater();
                     });
}

}  // namespace chatterly
