// Dialog templates built in memory from the control tables, so that the
// Win32 windows take their layout from the same source as every other view.
#pragma once

#include "app/main_layout.h"

#include <windows.h>

#include <span>
#include <string>
#include <vector>

namespace mub {

struct DialogFrame {
    DWORD style;
    int widthDu, heightDu;
    std::wstring title;
};

// The font every window of the program uses.
inline constexpr const wchar_t* dialogFontName = L"宋体";
inline constexpr WORD dialogFontPoints = 9;

// A DLGTEMPLATE with its items, DWORD-aligned as the system wants it, for
// CreateDialogIndirectParamW and DialogBoxIndirectParamW. Texts of the
// table are UTF-8; `defaultButton` (0: none) gets the default-button style.
std::vector<WORD> buildDialogTemplate(const DialogFrame& frame, std::span<const ControlTemplate> controls,
                                      int defaultButton = 0);

} // namespace mub
