#include "framework/widgets/MessageBox.h"

#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <climits>
#include <cstdio>
#include <mutex>

#include "framework/streams/AnsiCodec.h"
#include "framework/threads/WindowRequests.h"

namespace chatterly {
namespace {

std::mutex& lock() {
    static std::mutex m;
    return m;
}

MessageBox::Seam& seam() {
    static MessageBox::Seam s;
    return s;
}

QPointer<QWidget>& mainWindow() {
    static QPointer<QWidget> w;
    return w;
}

std::string& title() {
    static std::string t;
    return t;
}

bool& closedDown() {
    static bool closed = false;
    return closed;
}

void sayOnStderr(const MessageBoxRecord& record) {
    std::fprintf(stderr, "%s: %s\n", record.caption.c_str(), record.shown.toUtf8().constData());
}

std::string titleFromPath(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

void showOnScreen(const MessageBoxRecord& record) {
    if (!QApplication::instance()) {
        sayOnStderr(record);
        return;
    }
    QWidget* owner = record.owned ? mainWindow().data() : nullptr;
    QMessageBox box(owner);
    box.setWindowTitle(AnsiCodec::toQString(record.caption));
    box.setText(record.shown);
    box.setStandardButtons(QMessageBox::Ok);
    switch (record.icon) {
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::Stop:
            box.setIcon(QMessageBox::Critical);
            break;
    }
    box.exec();
}

}  // namespace

void MessageBox::show(const std::string& text, MessageIcon icon, bool unowned) {
    show(AnsiCodec::toQString(text), icon, unowned);
}

void MessageBox::show(const QString& text, MessageIcon icon, bool unowned) {
    MessageBoxRecord record{AnsiCodec::fromQString(text), text, icon, applicationTitle(), false};
    Seam current;
    {
        std::lock_guard guard(lock());
        current = seam();
        record.owned = !unowned && !mainWindow().isNull();
        if (closedDown() && !current) {
            sayOnStderr(record);
            return;
        }
    }
    const std::function<void()> present = [&] {
        if (current) {
            current(record);
        } else {
            showOnScreen(record);
        }
    };
    if (!WindowRequests::run(present) && !WindowRequests::isGuiThread()) {
        // No GUI thread to show it on (windowless start, or the window has
        // gone): a seam still sees it; otherwise say it on stderr.
        if (current) {
            current(record);
        } else if (!QApplication::instance() || QApplication::closingDown()) {
            sayOnStderr(record);
        }
    }
}

void MessageBox::setMainWindow(QWidget* window) {
    std::lock_guard guard(lock());
    mainWindow() = window;
}

std::string MessageBox::applicationTitle() {
    std::lock_guard guard(lock());
    if (title().empty()) {
        char path[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        title() = n > 0 ? titleFromPath(std::string(path, static_cast<size_t>(n))) : "chatterly";
    }
    return title();
}

void MessageBox::setApplicationTitle(std::string t) {
    std::lock_guard guard(lock());
    title() = titleFromPath(t);
}

void MessageBox::closeDown() {
    std::lock_guard guard(lock());
    closedDown() = true;
}

void MessageBox::setSeam(Seam s) {
    std::lock_guard guard(lock());
    seam() = std::move(s);
}

}  // namespace chatterly
