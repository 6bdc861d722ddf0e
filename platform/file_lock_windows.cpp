#include "platform/file_lock.h"

#include "platform/gbk_text.h"
#include "platform/wide_text_windows.h"

#include <windows.h>

namespace mub {

// Byte-range locks belong to the handle, so two objects in one program
// exclude each other. The first byte is locked: the file holds nothing.
struct FileLock::System {
    HANDLE file = INVALID_HANDLE_VALUE;
    ~System() {
        if (file == INVALID_HANDLE_VALUE) return;
        OVERLAPPED place{};
        ::UnlockFileEx(file, 0, 1, 0, &place);
        ::CloseHandle(file);
    }
};

FileLock::FileLock() : system_(std::make_unique<System>()) {}

FileLock::~FileLock() = default;

bool FileLock::held() const { return system_->file != INVALID_HANDLE_VALUE; }

FileLock::Result FileLock::tryLock(const std::string& path, std::string& error) {
    if (held()) return Result::Taken;
    const HANDLE file = ::CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot open " + path + ": " + utf8(systemErrorText(::GetLastError()));
        return Result::Failed;
    }
    OVERLAPPED place{};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place)) {
        const DWORD code = ::GetLastError();
        ::CloseHandle(file);
        if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return Result::Busy;
        error = "cannot lock " + path + ": " + utf8(systemErrorText(code));
        return Result::Failed;
    }
    system_->file = file;
    return Result::Taken;
}

} // namespace mub
