// The stand-in bridge library: the six bridge functions over a USB-serial
// tty. The device is the tty whose USB ids equal parameter words 0 and 1, or
// the one BRIDGEMINI_DEVICE names (BRIDGEMINI_TTY_CLASS and
// BRIDGEMINI_DEV_FOLDER may name other folders than /sys/class/tty and /dev). Words 2 and 3 are the read and write
// time-outs in milliseconds; word 4 holds the number of the connection slot
// (1-based, 0 when not connected).
#include "platform/bridge_abi.h"
#include "tools/bridge/device_search.h"
#include "tools/bridge/line_speed.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#define BRIDGE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int slotCount = 8;
int slotFds[slotCount] = {-1, -1, -1, -1, -1, -1, -1, -1};
std::mutex slotMutex;

// The open descriptor of the connection named by word 4, or -1.
int fdOf(const std::uint32_t* params) {
    if (!params) return -1;
    std::uint32_t slot = params[4];
    std::lock_guard<std::mutex> guard(slotMutex);
    if (slot < 1 || slot > slotCount) return -1;
    return slotFds[slot - 1];
}

void closeDevice(int fd) {
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

void releaseSlot(std::uint32_t* params) {
    int fd = -1;
    {
        std::lock_guard<std::mutex> guard(slotMutex);
        std::uint32_t slot = params[4];
        if (slot >= 1 && slot <= slotCount) {
            fd = slotFds[slot - 1];
            slotFds[slot - 1] = -1;
        }
        params[4] = 0;
    }
    if (fd >= 0) closeDevice(fd);
}

std::uint32_t statusOfOpenError(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return BRIDGE_STATUS_NO_DEVICE;
    case EBUSY:
    case EWOULDBLOCK:
        return BRIDGE_STATUS_DEVICE_BUSY;
    case EACCES:
    case EPERM:
        return BRIDGE_STATUS_ACCESS_DENIED;
    default:
        return BRIDGE_STATUS_FAILED;
    }
}

// Opens the device raw and exclusively: refused when another program holds
// it exclusively (TIOCEXCL) or holds its lock.
std::uint32_t openDevice(const std::string& path, int* fdOut) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return statusOfOpenError(errno);
    if (!::isatty(fd)) {
        ::close(fd);
        return BRIDGE_STATUS_NO_DEVICE;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return BRIDGE_STATUS_DEVICE_BUSY;
    }
    ::ioctl(fd, TIOCEXCL);
    struct termios tio {};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        // VMIN 1 keeps "no data yet" (EAGAIN) apart from a hang-up (0 bytes).
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    ::tcflush(fd, TCIOFLUSH);
    *fdOut = fd;
    return BRIDGE_STATUS_OK;
}

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

} // namespace

// Callers retry a failed connect at once and without a limit while the
// operator plugs the cable in; like a USB enumeration, a connect that finds
// no device therefore takes a little time instead of letting them spin.
uint32_t noDevice() {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return BRIDGE_STATUS_NO_DEVICE;
}

BRIDGE_EXPORT uint32_t MA101_ConnectBridge(uint32_t* params, int32_t) {
    if (!params) return BRIDGE_STATUS_BAD_ARGUMENT;
    // A connect on a block that is still connected starts over.
    releaseSlot(params);

    std::string path;
    const char* named = std::getenv(mub::bridge::deviceVariable);
    if (named && *named) {
        path = named;
    } else {
        const char* classFolder = std::getenv(mub::bridge::ttyClassVariable);
        const char* devFolder = std::getenv(mub::bridge::devFolderVariable);
        auto found = mub::bridge::findUsbTtys(params[0], params[1],
                                              classFolder && *classFolder ? classFolder : "/sys/class/tty",
                                              devFolder && *devFolder ? devFolder : "/dev");
        if (found.empty()) return noDevice();
        if (found.size() > 1) return BRIDGE_STATUS_DEVICE_BUSY;
        path = found.front();
    }
    int fd = -1;
    std::uint32_t status = openDevice(path, &fd);
    if (status == BRIDGE_STATUS_NO_DEVICE) return noDevice();
    if (status != BRIDGE_STATUS_OK) return status;

    std::lock_guard<std::mutex> guard(slotMutex);
    for (int i = 0; i < slotCount; ++i) {
        if (slotFds[i] < 0) {
            slotFds[i] = fd;
            params[4] = static_cast<std::uint32_t>(i + 1);
            return BRIDGE_STATUS_OK;
        }
    }
    closeDevice(fd);
    return BRIDGE_STATUS_FAILED;
}

BRIDGE_EXPORT uint32_t MA101_SetMode(uint32_t* params, const uint8_t* record, int32_t length) {
    int fd = fdOf(params);
    if (fd < 0) return BRIDGE_STATUS_NOT_CONNECTED;
    if (!record || length < 2) return BRIDGE_STATUS_BAD_ARGUMENT;
    std::uint32_t rate = mub::bridge::rateOfIndex(record[1]);
    if (rate == 0) return BRIDGE_STATUS_BAD_ARGUMENT; // the line keeps its speed
    return mub::bridge::setLineSpeed(fd, rate) ? BRIDGE_STATUS_OK : BRIDGE_STATUS_FAILED;
}

BRIDGE_EXPORT uint32_t MA101_ClearDevBuffer(uint32_t* params) {
    int fd = fdOf(params);
    if (fd < 0) return BRIDGE_STATUS_NOT_CONNECTED;
    return ::tcflush(fd, TCIOFLUSH) == 0 ? BRIDGE_STATUS_OK : BRIDGE_STATUS_FAILED;
}

BRIDGE_EXPORT uint32_t MA101_WriteData(uint32_t* params, const uint8_t* data, int32_t length, uint32_t* written) {
    if (written) *written = 0;
    int fd = fdOf(params);
    if (fd < 0) return BRIDGE_STATUS_NOT_CONNECTED;
    if (length < 0 || (length > 0 && !data)) return BRIDGE_STATUS_BAD_ARGUMENT;
    const auto deadline = Clock::now() + std::chrono::milliseconds(params[3]);
    std::int32_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd, data + done, static_cast<std::size_t>(length - done));
        if (n > 0) {
            done += static_cast<std::int32_t>(n);
            if (written) *written = static_cast<std::uint32_t>(done);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return errno == EIO || errno == ENXIO || errno == ENODEV
                                                  ? BRIDGE_STATUS_NO_DEVICE : BRIDGE_STATUS_FAILED;
        int left = remainingMs(deadline);
        if (left == 0) return BRIDGE_STATUS_TIMEOUT;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, left) > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
            return BRIDGE_STATUS_NO_DEVICE;
    }
    return BRIDGE_STATUS_OK;
}

BRIDGE_EXPORT uint32_t MA101_ReadData(uint32_t* params, uint8_t* buffer, int32_t length, uint32_t* read) {
    if (read) *read = 0;
    int fd = fdOf(params);
    if (fd < 0) return BRIDGE_STATUS_NOT_CONNECTED;
    if (length < 0 || (length > 0 && !buffer)) return BRIDGE_STATUS_BAD_ARGUMENT;
    const auto deadline = Clock::now() + std::chrono::milliseconds(params[2]);
    std::int32_t done = 0;
    while (done < length) {
        ssize_t n = ::read(fd, buffer + done, static_cast<std::size_t>(length - done));
        if (n > 0) {
            done += static_cast<std::int32_t>(n);
            if (read) *read = static_cast<std::uint32_t>(done);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // End of file or an I/O error: the other end of the line is gone.
        if (n == 0 || errno != EAGAIN) return BRIDGE_STATUS_NO_DEVICE;
        int left = remainingMs(deadline);
        if (left == 0) return BRIDGE_STATUS_TIMEOUT;
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, left);
        if (ready > 0 && !(p.revents & POLLIN) && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
            return BRIDGE_STATUS_NO_DEVICE;
    }
    return BRIDGE_STATUS_OK;
}

BRIDGE_EXPORT uint32_t MA101_DisconnectBridge(uint32_t* params) {
    if (params) releaseSlot(params);
    return BRIDGE_STATUS_OK;
}
