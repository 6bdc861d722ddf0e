// The program's pictures, the same files the Windows window carries as
// resources (app/art): the window icon and the About window's banner.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace mub {

// Every size of the icon file (16, 32, 48 and 256 pixels).
QIcon programIcon();
// 128 x 24 pixels.
QPixmap aboutBanner();

} // namespace mub
