// Renders the About window's picture as the desktop icon, one PNG per size:
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
        if (side <= 0 || !mub::aboutBanner(QSize(side, side)).save(file, "PNG")) {
            std::fprintf(stderr, "render_icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
