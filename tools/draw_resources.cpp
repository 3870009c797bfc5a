// Draws the program's pictures and icon and writes them as 16-colour BMP and
// ICO files into the directory given on the command line.
//
//   QT_QPA_PLATFORM=offscreen draw_resources src/resources
//
// Everything is drawn in ARGB with QPainter, then each pixel is mapped to the
// nearest colour of the standard 16-colour VGA palette and written by the small
// BMP/ICO writers below (uncompressed, 4 bits per pixel).

#include <QtCore/QByteArray>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

const std::array<QRgb, 16> kPalette = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
};

const QColor kFace(192, 192, 192);

int nearestIndex(QRgb c) {
    int best = 0;
    long bestDist = -1;
    for (int i = 0; i < 16; ++i) {
        const long dr = qRed(c) - qRed(kPalette[i]);
        const long dg = qGreen(c) - qGreen(kPalette[i]);
        const long db = qBlue(c) - qBlue(kPalette[i]);
        const long d = dr * dr + dg * dg + db * db;
        if (bestDist < 0 || d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return best;
}

void put16(QByteArray& b, uint16_t v) {
    b.append(char(v & 0xff));
    b.append(char((v >> 8) & 0xff));
}

void put32(QByteArray& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xff));
}

int rowBytes(int width, int bitsPerPixel) {
    return ((width * bitsPerPixel + 31) / 32) * 4;
}

void putInfoHeader(QByteArray& b, int width, int height, uint32_t imageSize) {
    put32(b, 40);
    put32(b, uint32_t(width));
    put32(b, uint32_t(height));
    put16(b, 1);  // planes
    put16(b, 4);  // bits per pixel
    put32(b, 0);  // BI_RGB
    put32(b, imageSize);
    put32(b, 2835);  // 72 dpi
    put32(b, 2835);
    put32(b, 16);
    put32(b, 0);
}

void putPalette(QByteArray& b) {
    for (QRgb c : kPalette) {
        b.append(char(qBlue(c)));
        b.append(char(qGreen(c)));
        b.append(char(qRed(c)));
        b.append(char(0));
    }
}

// 4-bit pixel rows, bottom row first. Pixels with alpha below half become
// index 0 when `transparent` is set (the AND mask hides them).
void putPixels(QByteArray& b, const QImage& img, bool transparent) {
    const int stride = rowBytes(img.width(), 4);
    for (int y = img.height() - 1; y >= 0; --y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            const int idx = (transparent && qAlpha(c) < 128) ? 0 : nearestIndex(c);
            row[x / 2] = char(uint8_t(row[x / 2]) | (x % 2 == 0 ? idx << 4 : idx));
        }
        b.append(row);
    }
}

void putMask(QByteArray& b, const QImage& img) {
    const int stride = rowBytes(img.width(), 1);
    for (int y = img.height() - 1; y >= 0; --y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) < 128)
                row[x / 8] = char(uint8_t(row[x / 8]) | (0x80 >> (x % 8)));
        b.append(row);
    }
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool writeBmp(const QString& path, const QImage& img) {
    const uint32_t pixelBytes = uint32_t(rowBytes(img.width(), 4) * img.height());
    const uint32_t offset = 14 + 40 + 16 * 4;
    QByteArray b;
    b.append("BM");
    put32(b, offset + pixelBytes);
    put32(b, 0);
    put32(b, offset);
    putInfoHeader(b, img.width(), img.height(), pixelBytes);
    putPalette(b);
    putPixels(b, img, false);
    return writeFile(path, b);
}

bool writeIco(const QString& path, const std::vector<QImage>& images) {
    std::vector<QByteArray> bodies;
    for (const QImage& img : images) {
        const uint32_t xorBytes = uint32_t(rowBytes(img.width(), 4) * img.height());
        const uint32_t andBytes = uint32_t(rowBytes(img.width(), 1) * img.height());
        QByteArray body;
        putInfoHeader(body, img.width(), img.height() * 2, xorBytes + andBytes);
        putPalette(body);
        putPixels(body, img, true);
        putMask(body, img);
        bodies.push_back(body);
    }
    QByteArray b;
    put16(b, 0);
    put16(b, 1);  // icon
    put16(b, uint16_t(images.size()));
    uint32_t offset = uint32_t(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        b.append(char(images[i].width()));
        b.append(char(images[i].height()));
        b.append(char(16));  // colours
        b.append(char(0));
        put16(b, 1);  // planes
        put16(b, 4);  // bits per pixel
        put32(b, uint32_t(bodies[i].size()));
        put32(b, offset);
        offset += uint32_t(bodies[i].size());
    }
    for (const QByteArray& body : bodies)
        b.append(body);
    return writeFile(path, b);
}

// The big loudspeaker grille: an oval with horizontal slats, and `rings`
// rings drawn around it while sound is playing.
QImage drawGrille(int rings) {
    QImage img(183, 137, QImage::Format_ARGB32);
    img.fill(kFace);
    QPainter p(&img);
    const QPointF c(91.5, 68.5);
    const QRectF oval(c.x() - 55, c.y() - 40, 110, 80);

    // Rim with a light upper-left edge and a dark lower-right one.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(oval.translated(-2, -2));
    p.setBrush(QColor(128, 128, 128));
    p.drawEllipse(oval.translated(2, 2));
    p.setBrush(QColor(128, 128, 128));
    p.drawEllipse(oval);

    // Slats: dark gaps between grey bars, clipped to the inside of the rim.
    QPainterPath inside;
    inside.addEllipse(oval.adjusted(5, 5, -5, -5));
    p.setClipPath(inside);
    p.fillRect(oval, QColor(0, 0, 0));
    for (int y = int(oval.top()) + 6; y < oval.bottom() - 4; y += 7)
        p.fillRect(QRectF(oval.left(), y, oval.width(), 4), QColor(192, 192, 192));
    p.setClipping(false);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.drawEllipse(oval);

    p.setPen(QPen(QColor(0, 0, 128), 3));
    for (int i = 1; i <= rings; ++i) {
        const double g = 12.0 * i;
        p.drawEllipse(oval.adjusted(-g, -g, g, g));
    }
    return img;
}

void drawSmallSpeaker(QPainter& p) {
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(QColor(128, 128, 128));
    p.drawRect(QRect(9, 19, 8, 13));  // magnet
    QPolygon cone;
    cone << QPoint(17, 19) << QPoint(28, 9) << QPoint(28, 42) << QPoint(17, 32);
    p.setBrush(QColor(255, 255, 255));
    p.drawPolygon(cone);
}

// The small loudspeaker with short lines of sound coming from it.
QImage drawSpeakerOn() {
    QImage img(54, 51, QImage::Format_ARGB32);
    img.fill(kFace);
    QPainter p(&img);
    drawSmallSpeaker(p);
    p.setPen(QPen(QColor(0, 0, 0), 2, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(33, 25, 45, 25);
    p.drawLine(33, 18, 43, 11);
    p.drawLine(33, 32, 43, 39);
    return img;
}

// The same loudspeaker crossed out: sound is switched off.
QImage drawSpeakerOff() {
    QImage img(54, 51, QImage::Format_ARGB32);
    img.fill(kFace);
    QPainter p(&img);
    drawSmallSpeaker(p);
    p.setPen(QPen(QColor(255, 0, 0), 4, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(5, 3.5, 44, 44));
    p.drawLine(QPointF(11.5, 10), QPointF(42.5, 41));
    return img;
}

// Tin-can telephone: two yellow cans joined by a white string.
QImage drawIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    const double s = size / 32.0;
    p.scale(s, s);

    p.setPen(QPen(QColor(255, 255, 255), size >= 32 ? 2 : 2.5));
    QPainterPath string;
    string.moveTo(9, 19);
    string.quadTo(16, 26, 23, 13);
    p.drawPath(string);

    p.setPen(QPen(QColor(128, 128, 0), size >= 32 ? 1.5 : 2));
    p.setBrush(QColor(255, 255, 0));
    p.drawRect(QRectF(1.5, 14.5, 9, 13));  // left can
    p.drawRect(QRectF(21.5, 4.5, 9, 13));  // right can
    if (size >= 32) {
        p.setPen(QPen(QColor(0, 0, 0), 1));
        p.drawLine(QPointF(2, 18), QPointF(10, 18));
        p.drawLine(QPointF(22, 8), QPointF(30, 8));
    }
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists()) {
        std::fprintf(stderr, "no such directory: %s\n", argv[1]);
        return 2;
    }
    bool ok = true;
    ok &= writeBmp(out.filePath("bitmap132.bmp"), drawGrille(0));
    ok &= writeBmp(out.filePath("bitmap137.bmp"), drawGrille(1));
    ok &= writeBmp(out.filePath("bitmap138.bmp"), drawGrille(2));
    ok &= writeBmp(out.filePath("bitmap133.bmp"), drawSpeakerOn());
    ok &= writeBmp(out.filePath("bitmap134.bmp"), drawSpeakerOff());
    ok &= writeIco(out.filePath("icon128.ico"), {drawIcon(32), drawIcon(16)});
    return ok ? 0 : 1;
}
