// Draws the station's icon for the desktop's icon theme: one PNG a size, each
// drawn for its own size (never a smaller one scaled up), by the drawing that made the
// program's own icon (drawIcon of tools/draw_resources.cpp, compiled in here
// so that the two cannot drift apart).
//
//   draw_icons OUTPUT_DIRECTORY SIZE...
//
// writes OUTPUT_DIRECTORY/SIZExSIZE.png for each SIZE, and
// OUTPUT_DIRECTORY/icon128.ico as that tool writes it, which the install test
// compares with src/resources/icon128.ico: equal files show that the theme's
// icons are the picture compiled into the program.

#include <QtCore/QByteArray>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

// Everything the drawing tool includes comes first, so that the renaming of
// its entry point below reaches no header.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

// The drawing tool's own entry point is renamed; only its drawing is used.
#define main drawResourcesMain
#include "../tools/draw_resources.cpp"
#undef main

namespace {

// The drawing does not smooth its edges. Small sizes keep its crisp pixels,
// as the program shows them; from 64 px on, where the steps of the string's
// curve would show, the icon is drawn at four times the size and reduced
// with filtering, which smooths the edges and keeps the shapes (the drawing
// changes its details only below 32 px).
QImage themeIcon(int size) {
    if (size < 64)
        return drawIcon(size);
    return drawIcon(4 * size).scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY SIZE...\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot make %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    for (int i = 2; i < argc; ++i) {
        char* end = nullptr;
        const long size = std::strtol(argv[i], &end, 10);
        if (*end != '\0' || size < 8 || size > 1024) {
            std::fprintf(stderr, "not an icon size: %s\n", argv[i]);
            return 2;
        }
        const QString name = QStringLiteral("%1x%1.png").arg(size);
        if (!themeIcon(int(size)).save(out.filePath(name), "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(out.filePath(name)));
            ok = false;
        }
    }
    ok &= writeIco(out.filePath(QStringLiteral("icon128.ico")), {drawIcon(32), drawIcon(16)});
    return ok ? 0 : 1;
}
