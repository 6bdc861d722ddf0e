// Exclusive reading with a file handle shared with nobody.
#include "upgrade_file/exclusive_read.h"

#include "platform/ui.h"
#include "platform/wide_text_windows.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>

namespace mub {

namespace {

struct Closer {
    HANDLE h;
    ~Closer() { ::CloseHandle(h); }
};

// The whole file of `size` bytes; no bytes when it cannot be read.
Bytes readOpenFile(HANDLE file, LONGLONG size) {
    // A size a 32-bit program cannot hold is refused, not cut down.
    if (static_cast<unsigned long long>(size) > SIZE_MAX) return {};
    Bytes bytes;
    try {
        bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return {};
    } catch (const std::length_error&) {
        return {};
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(file, bytes.data() + done, chunk, &got, nullptr) || got == 0) return {};
        done += got;
    }
    return bytes;
}

} // namespace

ExclusiveRead readExclusively(const std::string& systemPath, Ui* ui) {
    // Share mode 0: while the handle is open no other program may open the
    // file, and a file another program has open cannot be opened here.
    const std::wstring path = wideFromUtf8(systemPath);
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 1;; ++attempt) {
        file = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) break;
        const DWORD error = ::GetLastError();
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (!held || attempt == heldFileAttempts) {
            if (ui) ui->pumpDelay(1000);
            return {{}, held};
        }
        pauseBeforeRetry(ui);
    }
    Closer closer{file};
    LARGE_INTEGER size{};
    const bool usable = ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &size) && size.QuadPart > 0;
    if (ui) ui->pumpDelay(1000);
    if (!usable) return {};
    return {readOpenFile(file, size.QuadPart), false};
}

} // namespace mub
