// The Win32 window is DPI-aware (its manifest): dialog units scale with the
// system DPI by themselves, the pixel sizes the program sets itself are
// scaled here.
#pragma once

#include <windows.h>

namespace mub {

// `pixels` at 96 DPI, in pixels of the system DPI.
inline int scaledPixels(int pixels) {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return ::MulDiv(pixels, dpi > 0 ? dpi : 96, 96);
}

} // namespace mub
