#include "app/win32/open_file_dialog.h"

#include <commdlg.h>

#include <vector>

namespace mub {

std::wstring chooseUpgradeFile(HWND owner, const std::wstring& initialFolder, const wchar_t* title) {
    // Room for the longest path the wide APIs take.
    std::vector<wchar_t> chosen(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"升级文件(*.mub)\0*.mub\0";
    dialog.lpstrFile = chosen.data();
    dialog.nMaxFile = static_cast<DWORD>(chosen.size());
    dialog.lpstrInitialDir = initialFolder.empty() ? nullptr : initialFolder.c_str();
    dialog.lpstrTitle = title;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER;
    if (::GetOpenFileNameW(&dialog) == FALSE) return {};
    return chosen.data();
}

} // namespace mub
