// Build-time tool: renders the program icon with the drawing code the
// program itself uses, so that the menu, the launcher and the window show
// the same picture.
//   make_icons OUTPUT_DIR NAME SIZE...
// writes OUTPUT_DIR/hicolor/SIZExSIZE/apps/NAME.png for every SIZE.
#include "app/modPictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

int main(int argc, char *argv[])
{
    // Runs during the build, where there may be no display at all.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: make_icons OUTPUT_DIR NAME SIZE...\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    const QIcon icon = modPictures::ProgramIcon();
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QByteArray(argv[i]).toInt(&ok);
        if (!ok || size <= 0) {
            std::fprintf(stderr, "make_icons: bad size %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(root).arg(size);
        // Exactly SIZE pixels: a larger device pixel ratio would double them.
        const QPixmap pixmap = icon.pixmap(QSize(size, size), 1.0);
        if (!QDir().mkpath(dir) || pixmap.size() != QSize(size, size) ||
            !pixmap.save(QStringLiteral("%1/%2.png").arg(dir, name), "PNG")) {
            std::fprintf(stderr, "make_icons: cannot write the %d px icon in %s\n", size,
                         qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
