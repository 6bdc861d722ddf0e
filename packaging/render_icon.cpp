// Writes the program icon as the desktop icon, one PNG per size; each size
// must be in the icon file:
//   render_icon OUTDIR SIZE...   -> OUTDIR/<SIZE>.png
#include "app/qt/window_icon.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fputs("usage: render_icon OUTDIR SIZE...\n", stderr);
        return 1;
    }
    QDir().mkpath(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        int side = QString::fromLatin1(argv[i]).toInt();
        QString file = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/%1.png").arg(side);
        const QPixmap pixmap = mub::programIcon().pixmap(QSize(side, side));
        if (side <= 0 || pixmap.size() != QSize(side, side) || !pixmap.save(file, "PNG")) {
            std::fprintf(stderr, "render_icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
