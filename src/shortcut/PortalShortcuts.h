#pragma once
// The desktop's shortcut service: xdg-desktop-portal's GlobalShortcuts
// interface on the session bus. bind() asks whether the service is there
// (its version), makes a session and binds one shortcut ("talk", "Talk")
// with the key as its preferred trigger; each step's answer is a Response
// signal on a request path whose last element this side chooses. Every call
// is asynchronous, so nothing waits for the desktop (which may show the user
// a dialog first); answers of an earlier bind(), of another request, session
// or shortcut, and answers of the wrong types are dropped. Owned by
// GlobalShortcut; GUI thread.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>

#include "shortcut/ShortcutKey.h"

namespace chatterly {

// One shortcut as the service takes and returns it: a(sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcut& shortcut);

class PortalShortcuts : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* kService = "org.freedesktop.portal.Desktop";
    static constexpr const char* kPath = "/org/freedesktop/portal/desktop";
    static constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";
    static constexpr const char* kShortcutId = "talk";

    explicit PortalShortcuts(const QDBusConnection& bus, QObject* parent = nullptr);
    ~PortalShortcuts() override;

    // Asks the service for key; absent(), bound() or refused() follows.
    void bind(const ShortcutKey& key);
    // Gives up the binding (its session is closed) or the bind under way.
    void release();

  signals:
    void absent();   // no session bus, or no shortcut service on it
    void bound();    // the shortcut is the user's now
    void refused();  // the service refused it, failed, or answered nonsense
    void closed();   // the service ended the bound shortcut's session
    void activated(uint64_t time);
    void deactivated(uint64_t time);

  private slots:
    void onResponse(const QDBusMessage& message);
    void onActivated(const QDBusMessage& message);
    void onDeactivated(const QDBusMessage& message);
    void onClosed(const QDBusMessage& message);

  private:
    enum class Step { Idle, Probing, Creating, Binding, Bound };

    // Sends call; onReply runs with its answer unless bind() or release()
    // came since.
    void callAsync(const QDBusMessage& call, std::function<void(const QDBusMessage&)> onReply);
    // A new request token; requestPath_ becomes the path its Response comes on.
    QString newRequest();
    void createSession(const QDBusMessage& versionReply);
    void bindShortcut(uint32_t response, const QVariantMap& results);
    void takeBinding(uint32_t response, const QVariantMap& results);
    void fail();
    bool isOurs(const QDBusMessage& message, uint64_t& time) const;

    QDBusConnection bus_;
    ShortcutKey key_;
    Step step_ = Step::Idle;
    uint64_t attempt_ = 0;  // bind() and release() count up: older answers are stale
    unsigned tokens_ = 0;
    QString requestPath_;
    QString session_;
};

}  // namespace chatterly

Q_DECLARE_METATYPE(chatterly::PortalShortcut)
