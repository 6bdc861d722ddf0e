#include "app/settings/settings_file.h"
#include "app/settings/settings_location.h"

#include "platform/wide_text_windows.h"

#include <windows.h>

namespace mub {

std::string programFolder() { return programFileFolder(); }

// %APPDATA%, which Windows sets for every user who logs on (the shell's
// folder functions would cost mubtool.exe the shell's DLLs at every start).
std::string userConfigFolder() {
    const DWORD size = ::GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
    if (size <= 1) return {};
    std::wstring folder(size, L'\0');
    folder.resize(::GetEnvironmentVariableW(L"APPDATA", folder.data(), size));
    if (folder.empty()) return {};
    return utf8FromWide(folder) + "\\" + programFolderName;
}

bool folderWritable(const std::string& folder) {
    const std::wstring base =
        wideFromUtf8(folder) + L"\\.upgrader-write-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-";
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::wstring probe = base + std::to_wstring(attempt);
        HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                                    nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
            return true;
        }
        // A probe left by a program that was killed: another name.
        if (::GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

} // namespace mub
