// Exclusive reading with a descriptor, flock and a check for POSIX locks.
#include "upgrade_file/exclusive_read.h"

#include "platform/ui.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <cstdint>
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

// The reason an open() failed.
FileReadFailure openFailure(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return FileReadFailure::NotFound;
    case EACCES:
    case EPERM: return FileReadFailure::NoPermission;
    case ENXIO:
    case ENODEV: return FileReadFailure::NotAFile;
    default: return FileReadFailure::ReadError;
    }
}

} // namespace

ExclusiveRead readExclusively(const std::string& systemPath, Ui* ui) {
    // Non-blocking: opening a FIFO must not wait for a writer.
    FileDescriptor file(::open(systemPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) return readFailed(openFailure(errno), ui);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return readFailed(FileReadFailure::ReadError, ui);
    if (S_ISDIR(info.st_mode)) return readFailed(FileReadFailure::Folder, ui);
    if (!S_ISREG(info.st_mode)) return readFailed(FileReadFailure::NotAFile, ui);
    if (info.st_size <= 0) return readFailed(FileReadFailure::Empty, ui);
    if (static_cast<std::uint64_t>(info.st_size) > maxUpgradeFileBytes)
        return readFailed(FileReadFailure::TooLarge, ui);
    for (int attempt = 1;; ++attempt) {
        if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0) {
            if (!lockedByOther(file.get())) break;
            ::flock(file.get(), LOCK_UN);
        } else if (errno != EWOULDBLOCK) {
            return readFailed(FileReadFailure::ReadError, ui);
        }
        if (attempt == heldFileAttempts) return readFailed(FileReadFailure::InUse, ui);
        pauseBeforeRetry(ui);
    }
    if (ui) ui->pumpDelay(1000);

    Bytes bytes;
    try {
        bytes.resize(static_cast<std::size_t>(info.st_size));
    } catch (const std::bad_alloc&) {
        return readFailed(FileReadFailure::TooLarge);
    }
    if (!readExactly(file.get(), bytes.data(), bytes.size())) return readFailed(FileReadFailure::ReadError);
    ExclusiveRead read;
    read.bytes = std::move(bytes);
    return read;
}

} // namespace mub
