// The program's pictures, drawn at run time: the window icon and the
// banner of the About window.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace mub {

QIcon programIcon();
QPixmap aboutBanner(const QSize& size);

} // namespace mub
