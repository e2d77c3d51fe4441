// Renders the program's icon as PNG files for the hicolor icon theme, or as
// the Windows window's icon (the design's one 32 x 32 image):
//   a5merge-render-icons FOLDER      (writes FOLDER/SIZExSIZE/apps/a5merge.png)
//   a5merge-render-icons --ico FILE  (src/win32/a5merge.ico is made so)

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/icon.h"

int main(int argc, char* argv[]) {
    const bool ico = argc == 3 && std::strcmp(argv[1], "--ico") == 0;
    if (argc != 2 && !ico) {
        std::fprintf(stderr, "usage: %s FOLDER | --ico FILE\n", argv[0]);
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    if (ico) {
        if (!a5merge::PaintIcon(32).save(QString::fromLocal8Bit(argv[2]), "ICO")) {
            std::fprintf(stderr, "cannot write %s\n", argv[2]);
            return 1;
        }
        return 0;
    }
    for (int size : a5merge::kIconSizes) {
        const QString folder =
            QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!QDir().mkpath(folder) ||
            !a5merge::PaintIcon(size).save(folder + QStringLiteral("/a5merge.png"))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
