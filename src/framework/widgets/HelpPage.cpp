#include "framework/widgets/HelpPage.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace chatterly {
namespace {

QString& chosen() {
    static QString path;
    return path;
}

}  // namespace

QString HelpPage::location() {
    const QString path = !chosen().isEmpty()
                             ? chosen()
                             : QCoreApplication::applicationDirPath() +
                                   QStringLiteral("/../share/chatterly/chatterly.html");
    const QFileInfo page(path);
    return page.isFile() ? page.canonicalFilePath() : QString();
}

// The desktop's services first; a platform without them (the offscreen one,
// a bare X server) goes straight to xdg-open, which finds the viewer itself.
bool HelpPage::show() {
    const QString page = location();
    if (page.isEmpty()) {
        return false;
    }
    const QUrl url = QUrl::fromLocalFile(page);
    return QDesktopServices::openUrl(url) ||
           QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString()});
}

void HelpPage::setLocation(const QString& path) {
    chosen() = path;
}

}  // namespace chatterly
