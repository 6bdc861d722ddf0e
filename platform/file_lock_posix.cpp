#include "platform/file_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace mub {

// flock locks belong to the open file, so two objects in one program
// exclude each other.
struct FileLock::System {
    int fd = -1;
    ~System() {
        if (fd >= 0) ::close(fd); // releases the lock
    }
};

FileLock::FileLock() : system_(std::make_unique<System>()) {}

FileLock::~FileLock() = default;

bool FileLock::held() const { return system_->fd >= 0; }

FileLock::Result FileLock::tryLock(const std::string& path, std::string& error) {
    if (held()) return Result::Taken;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return Result::Failed;
    }
    int locked;
    while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        const int code = errno;
        ::close(fd);
        if (code == EWOULDBLOCK) return Result::Busy;
        error = "cannot lock " + path + ": " + std::strerror(code);
        return Result::Failed;
    }
    system_->fd = fd;
    return Result::Taken;
}

} // namespace mub
