// The system's open dialog for an upgrade file (*.mub), as both Windows
// windows show it: wide paths throughout, no change of the current folder.
#pragma once

#include <windows.h>

#include <string>

namespace mub {

// The chosen file's path; empty when the operator cancelled. The dialog
// starts in `initialFolder` when it is not empty.
std::wstring chooseUpgradeFile(HWND owner, const std::wstring& initialFolder, const wchar_t* title);

} // namespace mub
