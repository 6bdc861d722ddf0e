// The bare exchange's port on Linux: the terminal in raw mode, a listener
// thread blocked in read, a semaphore per answer.
#include "tools/line_floor/line_floor.h"

#include "platform/prompt_wakeup.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <semaphore>
#include <thread>

namespace mub::floor {
namespace {

class LinuxFloorPort : public FloorPort {
public:
    explicit LinuxFloorPort(int fd) : fd_(fd) {
        std::thread([this] { listen(); }).detach();
    }

    bool write(const std::uint8_t* bytes, std::size_t count) override {
        while (count > 0) {
            const ssize_t n = ::write(fd_, bytes, count);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                std::fprintf(stderr, "line_floor: write: %s\n", std::strerror(errno));
                return false;
            }
            bytes += n;
            count -= static_cast<std::size_t>(n);
        }
        return true;
    }

    ReplyLatency::Clock::time_point waitForAnswer() override {
        answers_.acquire();
        return ReplyLatency::Clock::time_point(ReplyLatency::Clock::duration(answeredAt_.load()));
    }

private:
    void listen() {
        askForPromptWakeups(); // as the serial listener does
        std::uint8_t byte = 0;
        for (;;) {
            const ssize_t n = ::read(fd_, &byte, 1);
            if (n == 1) {
                answeredAt_ = ReplyLatency::Clock::now().time_since_epoch().count();
                answers_.release();
            }
            if (n < 0 && errno != EINTR) return;
        }
    }

    int fd_;
    std::counting_semaphore<> answers_{0};
    std::atomic<ReplyLatency::Clock::rep> answeredAt_{0};
};

} // namespace

std::unique_ptr<FloorPort> openFloorPort(const char* name) {
    const int fd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0) {
        std::fprintf(stderr, "line_floor: %s: %s\n", name, std::strerror(errno));
        return nullptr;
    }
    ::cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);
    return std::make_unique<LinuxFloorPort>(fd);
}

} // namespace mub::floor
