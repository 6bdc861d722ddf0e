#include "tools/mubtool/upgrade_file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace mub::tool {
namespace {

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

std::optional<Bytes> readWholeFile(const std::string& path) {
    // Non-blocking open: a FIFO without writer must not hang the command; it
    // is refused below as no regular file.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    FdCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    try {
        Bytes bytes;
        bytes.reserve(static_cast<std::size_t>(st.st_size));
        std::uint8_t chunk[65536];
        for (;;) {
            ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return std::nullopt;
            if (n == 0) break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<std::string> writeWholeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::string temporary = path + ".tmp-" + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return std::string(std::strerror(errno));
    std::size_t written = 0;
    int error = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return std::string(std::strerror(error));
    }
    return std::nullopt;
}

} // namespace mub::tool
