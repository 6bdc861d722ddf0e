#include "platform/append_file.h"

#include "platform/gbk_text.h"
#include "platform/wide_text_windows.h"

#include <windows.h>

namespace mub {
namespace {

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

std::string failure(const char* what, DWORD code) { return std::string(what) + ": " + utf8(systemErrorText(code)); }

bool seek(HANDLE file, LONGLONG offset) {
    LARGE_INTEGER at;
    at.QuadPart = offset;
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != FALSE;
}

// 0, or the error that stopped the write.
DWORD writeAll(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        DWORD put = 0;
        if (!::WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &put, nullptr)) return ::GetLastError();
        if (put == 0) return ERROR_DISK_FULL;
        data.remove_prefix(put);
    }
    return 0;
}

// Every writer locks this one byte, far past the end of any real log (a
// lock beyond the end of a file is allowed and keeps no reader out).
OVERLAPPED lockPlace() {
    OVERLAPPED place{};
    place.Offset = 0xFFFFFFF0u;
    place.OffsetHigh = 0x7FFFFFFFu;
    return place;
}

} // namespace

AppendResult appendToFile(const std::string& path, std::string_view header, std::string_view text, std::string& error) {
    // Others may read the log meanwhile (a spreadsheet that shows it); one
    // that holds it open without sharing makes the open fail.
    Handle file(::CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        error = failure("cannot open", ::GetLastError());
        return AppendResult::Failed;
    }
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        error = "not a regular file";
        return AppendResult::Failed;
    }
    // Byte-range locks belong to the handle, so threads of one program that
    // each open the file exclude each other as other programs do.
    OVERLAPPED place = lockPlace();
    if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &place)) {
        error = failure("cannot lock", ::GetLastError());
        return AppendResult::Failed;
    }
    struct Unlock {
        HANDLE file;
        ~Unlock() {
            OVERLAPPED at = lockPlace();
            ::UnlockFileEx(file, 0, 1, 0, &at);
        }
    } unlock{file.get()};

    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) {
        error = failure("cannot read the size", ::GetLastError());
        return AppendResult::Failed;
    }
    std::string data;
    if (size.QuadPart == 0) {
        data = header;
    } else {
        char last = '\n';
        DWORD got = 0;
        if (seek(file.get(), size.QuadPart - 1) && ::ReadFile(file.get(), &last, 1, &got, nullptr) && got == 1 &&
            last != '\n')
            data = "\n";
    }
    data += text;
    if (!seek(file.get(), size.QuadPart)) {
        error = failure("cannot find the end", ::GetLastError());
        return AppendResult::Failed;
    }
    if (const DWORD code = writeAll(file.get(), data); code != 0) {
        // Part of the text may be in: the file is cut back to where it ended.
        error = failure("cannot write", code);
        if (!seek(file.get(), size.QuadPart) || !::SetEndOfFile(file.get())) error += "; the piece written stays";
        return AppendResult::Failed;
    }
    if (!::FlushFileBuffers(file.get())) {
        error = failure("cannot flush to the disk", ::GetLastError());
        return AppendResult::Unflushed;
    }
    return AppendResult::Appended;
}

} // namespace mub
