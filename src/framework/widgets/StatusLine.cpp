#include "framework/widgets/StatusLine.h"

#include <QMetaObject>
#include <QPointer>
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

QPointer<StatusLine>& installed() {
    static QPointer<StatusLine> line;
    return line;
}

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
    if (StatusLine* line = installed().data()) {
        // Queued, so that no thread waits for the GUI thread to show it.
        QMetaObject::invokeMethod(
            line,
            [line = QPointer<StatusLine>(line), text] {
                if (line) {
                    line->show(text);
                }
            },
            Qt::QueuedConnection);
        return;
    }
    std::fprintf(stderr, "chatterly: %s\n", text.toUtf8().constData());
}

void StatusLine::post(const std::string& text) {
    post(AnsiCodec::toQString(text));
}

void StatusLine::show(const QString& text) {
    notice_ = text;
    const QString line =
        QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + text;
    setText(line);
    setToolTip(line);
    setAccessibleName(line);
}

}  // namespace chatterly
