#include "framework/widgets/StatusLine.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTime>
#include <cstdio>
#include <mutex>

#include "framework/streams/AnsiCodec.h"

namespace chatterly {
namespace {

std::mutex& lineLock() {
    static std::mutex m;
    return m;
}

// The installed line; set and cleared under lineLock by the line itself.
StatusLine*& installed() {
    static StatusLine* line = nullptr;
    return line;
}

// A notice on its way to the line. The event queue owns it and the GUI
// thread deletes it, so nothing of it is freed on the posting thread; a line
// that goes first takes its pending events with it.
class NoticeEvent : public QEvent {
  public:
    explicit NoticeEvent(QString text) : QEvent(type()), text(std::move(text)) {}
    static QEvent::Type type() {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }
    const QString text;
};

}  // namespace

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setAccessibleName(QStringLiteral("Status line"));
    std::lock_guard lock(lineLock());
    installed() = this;
}

StatusLine::~StatusLine() {
    std::lock_guard lock(lineLock());
    if (installed() == this) {
        installed() = nullptr;
    }
}

void StatusLine::post(const QString& text) {
    std::lock_guard lock(lineLock());
    if (StatusLine* line = installed()) {
        // Posted, so that no thread waits for the GUI thread to show it.
        QCoreApplication::postEvent(line, new NoticeEvent(text));
        return;
    }
    std::fprintf(stderr, "chatterly: %s\n", text.toUtf8().constData());
}

void StatusLine::post(const std::string& text) {
    post(AnsiCodec::toQString(text));
}

bool StatusLine::event(QEvent* event) {
    if (event->type() == NoticeEvent::type()) {
        show(static_cast<NoticeEvent*>(event)->text);
        return true;
    }
    return QLabel::event(event);
}

void StatusLine::show(const QString& text) {
    notice_ = text;
    const QString line =
        QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + text;
    line_ = line;
    setText(fontMetrics().elidedText(line_, Qt::ElideRight, width()));
    setToolTip(line);
    setAccessibleName(line);
}

void StatusLine::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    if (!line_.isEmpty()) {
        setText(fontMetrics().elidedText(line_, Qt::ElideRight, width()));
    }
}

}  // namespace chatterly
