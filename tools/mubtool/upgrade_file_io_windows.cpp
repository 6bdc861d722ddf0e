#include "tools/mubtool/upgrade_file_io.h"

#include "platform/gbk_text.h"
#include "platform/wide_text_windows.h"

#include <windows.h>

#include <algorithm>
#include <new>

namespace mub::tool {
namespace {

struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};

std::string errorText(DWORD code) { return utf8(systemErrorText(code)); }

} // namespace

std::optional<Bytes> readWholeFile(const std::string& path) {
    Handle file{::CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.h == INVALID_HANDLE_VALUE || ::GetFileType(file.h) != FILE_TYPE_DISK) return std::nullopt;
    try {
        Bytes bytes;
        std::uint8_t chunk[65536];
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(file.h, chunk, sizeof chunk, &got, nullptr)) return std::nullopt;
            if (got == 0) break;
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return bytes;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<std::string> writeWholeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    const std::wstring target = wideFromUtf8(path);
    const std::wstring temporary = target + L".tmp-" + std::to_wstring(::GetCurrentProcessId());
    DWORD error = 0;
    {
        Handle file{::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr)};
        if (file.h == INVALID_HANDLE_VALUE) return errorText(::GetLastError());
        std::size_t written = 0;
        while (written < bytes.size() && error == 0) {
            DWORD put = 0;
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 20));
            if (!::WriteFile(file.h, bytes.data() + written, chunk, &put, nullptr)) error = ::GetLastError();
            written += put;
        }
        if (error == 0 && !::FlushFileBuffers(file.h)) error = ::GetLastError();
    }
    if (error == 0 && !::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        error = ::GetLastError();
    if (error != 0) {
        ::DeleteFileW(temporary.c_str());
        return errorText(error);
    }
    return std::nullopt;
}

} // namespace mub::tool
