// Profile files through the system's file handles.
#include "platform/profile_file_io.h"

#include "platform/wide_text_windows.h"

#include <windows.h>

namespace mub {
namespace {

struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};

// A rename refused for a moment (a virus scanner or an indexer that has
// just opened the new file or the old one) is tried again for about a
// second before the write counts as failed.
constexpr int renameAttempts = 20;
constexpr DWORD renamePauseMs = 50;

bool refusedForAMoment(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool renameOver(const wchar_t* from, const wchar_t* to) {
    for (int attempt = 1;; ++attempt) {
        if (::MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        if (attempt == renameAttempts || !refusedForAMoment(::GetLastError())) return false;
        ::Sleep(renamePauseMs);
    }
}

bool writeAll(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        DWORD put = 0;
        if (!::WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) || put == 0) return false;
        data.remove_prefix(put);
    }
    return true;
}

} // namespace

ProfileReadResult readWholeProfile(const std::string& path, std::string& out) {
    out.clear();
    Handle file{::CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? ProfileReadResult::Missing : ProfileReadResult::Failed;
    }
    char buffer[8192];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.h, buffer, sizeof buffer, &got, nullptr)) return ProfileReadResult::Failed;
        if (got == 0) break;
        out.append(buffer, got);
    }
    return ProfileReadResult::Ok;
}

bool replaceProfile(const std::string& path, std::string_view content, bool /*existed*/) {
    const std::wstring target = wideFromUtf8(path);
    if (target.empty()) return false;
    const std::size_t slash = target.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : target.substr(0, slash);
    wchar_t temp[MAX_PATH + 16];
    if (::GetTempFileNameW(folder.c_str(), L"cfg", 0, temp) == 0) return false;

    bool ok;
    {
        Handle file{::CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
        ok = file.h != INVALID_HANDLE_VALUE && writeAll(file.h, content) && ::FlushFileBuffers(file.h);
    }
    // A read-only old file refuses to be replaced and stays as it was; its
    // refusal is for good, so it is not tried again.
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) ok = false;
    if (ok) ok = renameOver(temp, target.c_str());
    if (!ok) ::DeleteFileW(temp);
    return ok;
}

} // namespace mub
