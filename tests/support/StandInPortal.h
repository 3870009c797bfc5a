#pragma once
// A stand-in for the desktop's shortcut service (xdg-desktop-portal's
// GlobalShortcuts) on a private session bus: it makes sessions and binds the
// shortcut, answering each request's Response right after the call's reply
// with the code the test sets.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include "shortcut/PortalShortcuts.h"

namespace chatterly::test {

class StandInPortal : public QDBusVirtualObject {
  public:
    QVariant bindResponse = 0u;  // the code BindShortcuts' Response carries
    QString session;             // the session made
    QString trigger;             // the key asked for

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        const QVariantList args = call.arguments();
        const auto optionsAt = [&](int i) {
            return qdbus_cast<QVariantMap>(args.value(i).value<QDBusArgument>());
        };
        const auto requestPath = [&](const QVariantMap& options) {
            QString sender = call.service().mid(1).replace('.', '_');
            return QStringLiteral("%1/request/%2/%3")
                .arg(PortalShortcuts::kPath, sender, options.value("handle_token").toString());
        };
        if (call.member() == "Get") {
            bus.send(call.createReply(QVariant::fromValue(QDBusVariant(1u))));
        } else if (call.member() == "CreateSession") {
            const QVariantMap options = optionsAt(0);
            session =
                QStringLiteral("%1/session/x/%2")
                    .arg(PortalShortcuts::kPath, options.value("session_handle_token").toString());
            const QString request = requestPath(options);
            bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
            respond(bus, call.service(), request, 0u, {{"session_handle", session}});
        } else if (call.member() == "BindShortcuts") {
            const auto shortcuts =
                qdbus_cast<QList<PortalShortcut>>(args.value(1).value<QDBusArgument>());
            trigger = shortcuts.value(0).properties.value("preferred_trigger").toString();
            const QString request = requestPath(optionsAt(3));
            bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
            respond(bus, call.service(), request, bindResponse,
                    {{"shortcuts", QVariant::fromValue(shortcuts)}});
        } else {
            bus.send(call.createReply());  // the session's Close
        }
        return true;
    }

  private:
    static void respond(const QDBusConnection& bus, const QString& to, const QString& request,
                        const QVariant& response, const QVariantMap& results) {
        QDBusMessage signal = QDBusMessage::createTargetedSignal(
            to, request, "org.freedesktop.portal.Request", "Response");
        signal << response << results;
        bus.send(signal);
    }
};

}  // namespace chatterly::test
