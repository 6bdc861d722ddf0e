// Profile files through POSIX calls.
#include "platform/profile_file_io.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mub {

ProfileReadResult readWholeProfile(const std::string& path, std::string& out) {
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno == ENOENT ? ProfileReadResult::Missing : ProfileReadResult::Failed;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return ProfileReadResult::Failed;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ProfileReadResult::Ok;
}

namespace {

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

// An existing file is only replaced when this user could write it in
// place: a writable folder alone must not turn a read-only file into a new
// one. The new file keeps the old one's mode and, where the system allows,
// its owner and group.
bool replaceProfile(const std::string& path, std::string_view content, bool existed) {
    std::string target = path;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        // Write through a symbolic link instead of replacing the link itself.
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) == nullptr) return false;
        target = resolved;
    }
    mode_t mode = 0644;
    bool keepOwner = false;
    if (existed) {
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return false;
        if (::stat(target.c_str(), &info) == 0) {
            mode = info.st_mode & 07777;
            keepOwner = true;
        }
    }

    std::size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = folder + "/." + name + ".XXXXXX";

    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    // Owner first: a change of owner clears the set-id bits the mode restores.
    // Refused unless root or the group is one of this user's; nothing lost then.
    if (keepOwner && ::fchown(fd, info.st_uid, info.st_gid) != 0) {
        // Then the group alone; if that is refused too, the file is simply
        // this user's, with the same mode.
        [[maybe_unused]] const int groupKept = ::fchown(fd, static_cast<uid_t>(-1), info.st_gid);
    }
    bool ok = writeAll(fd, content) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace mub
