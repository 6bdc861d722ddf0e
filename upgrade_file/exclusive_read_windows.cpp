// Exclusive reading with a file handle shared with nobody.
#include "upgrade_file/exclusive_read.h"

#include "platform/ui.h"
#include "platform/wide_text_windows.h"

#include <windows.h>

#include <new>
#include <string>

namespace mub {

namespace {

struct Closer {
    HANDLE h;
    ~Closer() { ::CloseHandle(h); }
};

// The reason CreateFileW failed with `error` for `path`.
FileReadFailure openFailure(DWORD error, const std::wstring& path) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_FILENAME_EXCED_RANGE: return FileReadFailure::NotFound;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return FileReadFailure::InUse;
    case ERROR_ACCESS_DENIED: {
        // A folder cannot be opened as a file and says "access denied" too.
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return FileReadFailure::Folder;
        return FileReadFailure::NoPermission;
    }
    default: return FileReadFailure::ReadError;
    }
}

// The whole file of `size` bytes (at most maxUpgradeFileBytes).
ExclusiveRead readOpenFile(HANDLE file, LONGLONG size) {
    Bytes bytes;
    try {
        bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return readFailed(FileReadFailure::TooLarge);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!::ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr) || got == 0)
            return readFailed(FileReadFailure::ReadError);
        done += got;
    }
    ExclusiveRead read;
    read.bytes = std::move(bytes);
    return read;
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
        const FileReadFailure failure = openFailure(::GetLastError(), path);
        if (failure != FileReadFailure::InUse || attempt == heldFileAttempts) return readFailed(failure, ui);
        pauseBeforeRetry(ui);
    }
    Closer closer{file};
    if (::GetFileType(file) != FILE_TYPE_DISK) return readFailed(FileReadFailure::NotAFile, ui);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) return readFailed(FileReadFailure::ReadError, ui);
    if (size.QuadPart <= 0) return readFailed(FileReadFailure::Empty, ui);
    if (static_cast<unsigned long long>(size.QuadPart) > maxUpgradeFileBytes)
        return readFailed(FileReadFailure::TooLarge, ui);
    if (ui) ui->pumpDelay(1000);
    return readOpenFile(file, size.QuadPart);
}

} // namespace mub
