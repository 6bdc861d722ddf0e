// Exclusive reading with a descriptor, flock and a check for POSIX locks.
#include "upgrade_file/exclusive_read.h"

#include "platform/ui.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mub {
namespace {

// Closes a descriptor when it goes out of scope (also releasing its flock).
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// True when another process holds a POSIX or open-file-description lock on
// any part of the file (read or write).
bool lockedByOther(int fd) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0; // the whole file
    if (::fcntl(fd, F_GETLK, &probe) != 0) return false;
    return probe.l_type != F_UNLCK;
}

// Reads exactly `size` bytes, or fails.
bool readExactly(int fd, std::uint8_t* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

ExclusiveRead readExclusively(const std::string& systemPath, Ui* ui) {
    // Non-blocking: opening a FIFO must not wait for a writer.
    FileDescriptor file(::open(systemPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
        if (ui) ui->pumpDelay(1000);
        return {};
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        if (ui) ui->pumpDelay(1000);
        return {};
    }
    for (int attempt = 1;; ++attempt) {
        if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0) {
            if (!lockedByOther(file.get())) break;
            ::flock(file.get(), LOCK_UN);
        } else if (errno != EWOULDBLOCK) {
            if (ui) ui->pumpDelay(1000);
            return {};
        }
        if (attempt == heldFileAttempts) {
            if (ui) ui->pumpDelay(1000);
            return {{}, true};
        }
        pauseBeforeRetry(ui);
    }
    if (ui) ui->pumpDelay(1000);

    Bytes bytes;
    try {
        bytes.resize(static_cast<std::size_t>(info.st_size));
    } catch (const std::bad_alloc&) {
        return {};
    } catch (const std::length_error&) {
        return {};
    }
    if (!readExactly(file.get(), bytes.data(), bytes.size())) return {};
    return {std::move(bytes), false};
}

} // namespace mub
