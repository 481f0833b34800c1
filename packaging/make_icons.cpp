// Build-time tool: renders the program icon with the drawing code the
// program itself uses, so that the menu, the launcher, the window and the
// Windows program file show the same picture.
//   make_icons OUTPUT_DIR NAME SIZE...
// writes OUTPUT_DIR/hicolor/SIZExSIZE/apps/NAME.png for every SIZE;
//   make_icons --ico FILE.ico SIZE...
// writes one Windows icon file holding every SIZE.
#include "app/modPictures.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

namespace
{

// Exactly SIZE pixels: a larger device pixel ratio would double them.
QPixmap Render(int size) { return modPictures::ProgramIcon().pixmap(QSize(size, size), 1.0); }

void PutLE(QByteArray &out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

// An .ico whose images are PNG streams, which every Windows since Vista reads.
QByteArray IconFile(const QList<int> &sizes)
{
    QList<QByteArray> images;
    for (int size : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!Render(size).save(&buffer, "PNG"))
            return {};
        images << png;
    }
    QByteArray out;
    PutLE(out, 0, 2);
    PutLE(out, 1, 2); // an icon, not a cursor
    PutLE(out, quint32(sizes.size()), 2);
    quint32 offset = 6 + 16 * quint32(sizes.size());
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        const int size = sizes[i];
        PutLE(out, size >= 256 ? 0 : quint32(size), 1); // 0 stands for 256
        PutLE(out, size >= 256 ? 0 : quint32(size), 1);
        PutLE(out, 0, 2);  // no palette
        PutLE(out, 1, 2);  // planes
        PutLE(out, 32, 2); // bits per pixel
        PutLE(out, quint32(images[i].size()), 4);
        PutLE(out, offset, 4);
        offset += quint32(images[i].size());
    }
    for (const QByteArray &png : images)
        out += png;
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    // Runs during the build, where there may be no display at all.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: make_icons OUTPUT_DIR NAME SIZE...\n"
                             "       make_icons --ico FILE.ico SIZE...\n");
        return 2;
    }
    const bool ico = QByteArray(argv[1]) == "--ico";
    QList<int> sizes;
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QByteArray(argv[i]).toInt(&ok);
        if (!ok || size <= 0 || (ico && size > 256)) {
            std::fprintf(stderr, "make_icons: bad size %s\n", argv[i]);
            return 2;
        }
        sizes << size;
    }
    if (ico) {
        const QString path = QString::fromLocal8Bit(argv[2]);
        const QByteArray bytes = IconFile(sizes);
        QFile file(path);
        if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", argv[2]);
            return 1;
        }
        return 0;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int size : sizes) {
        const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(root).arg(size);
        const QPixmap pixmap = Render(size);
        if (!QDir().mkpath(dir) || pixmap.size() != QSize(size, size) ||
            !pixmap.save(QStringLiteral("%1/%2.png").arg(dir, name), "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write the %d px icon in %s\n", size,
                         qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
