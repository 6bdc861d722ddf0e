#include "app/qt/window_icon.h"

namespace mub {

QIcon programIcon() { return QIcon(QStringLiteral(":/art/program.ico")); }

QPixmap aboutBanner() { return QPixmap(QStringLiteral(":/art/banner.bmp")); }

} // namespace mub
