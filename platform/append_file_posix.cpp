#include "platform/append_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mub {
namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string failure(const char* what, int code) { return std::string(what) + ": " + std::strerror(code); }

// 0, or the error that stopped the write.
int writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return errno;
        if (put == 0) return ENOSPC;
        data.remove_prefix(static_cast<std::size_t>(put));
    }
    return 0;
}

} // namespace

AppendResult appendToFile(const std::string& path, std::string_view header, std::string_view text, std::string& error) {
    Fd file(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (file.get() < 0) {
        error = failure("cannot open", errno);
        return AppendResult::Failed;
    }
    // flock locks belong to the open file, so threads of one program that
    // each open the file exclude each other as other programs do.
    while (::flock(file.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = failure("cannot lock", errno);
            return AppendResult::Failed;
        }
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        error = failure("cannot read the size", errno);
        return AppendResult::Failed;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "not a regular file";
        return AppendResult::Failed;
    }
    std::string data;
    if (info.st_size == 0) {
        data = header;
    } else {
        char last = '\n';
        if (::pread(file.get(), &last, 1, info.st_size - 1) == 1 && last != '\n') data = "\n";
    }
    data += text;
    // One write: with O_APPEND it lands at the end whole, or not at all when
    // the program is killed before it.
    if (const int code = writeAll(file.get(), data); code != 0) {
        // Part of the text may be in: the file is cut back to where it
        // ended (other writers wait for the lock meanwhile). Should that fail
        // too, the next append starts on a new line after the piece.
        error = failure("cannot write", code);
        if (::ftruncate(file.get(), info.st_size) != 0) error += "; the piece written stays";
        return AppendResult::Failed;
    }
    if (::fdatasync(file.get()) != 0) {
        error = failure("cannot flush to the disk", errno);
        return AppendResult::Unflushed;
    }
    return AppendResult::Appended; // closing releases the lock
}

} // namespace mub
