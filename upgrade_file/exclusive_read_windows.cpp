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

Bytes readExclusively(const std::string& systemPath, Ui* ui) {
    // Share mode 0: while the handle is open no other program may open the
    // file, and a file another program has open cannot be opened here.
    HANDLE file = ::CreateFileW(wideFromUtf8(systemPath).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (ui) ui->pumpDelay(1000);
        return {};
    }
    struct Closer {
        HANDLE h;
        ~Closer() { ::CloseHandle(h); }
    } closer{file};
    LARGE_INTEGER size{};
    const bool usable = ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &size) && size.QuadPart > 0;
    if (ui) ui->pumpDelay(1000);
    if (!usable) return {};

    // A size a 32-bit program cannot hold is refused, not cut down.
    if (static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX) return {};
    Bytes bytes;
    try {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
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

} // namespace mub
