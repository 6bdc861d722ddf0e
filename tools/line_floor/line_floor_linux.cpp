// line_floor PORT BLOCKS on Linux: the tool's side of the bare exchange over
// the terminal's own calls. A listener thread blocks in read and counts the
// answers up; the main thread writes a block, then waits for its answer.
#include "link/reply_latency.h"
#include "platform/prompt_wakeup.h"
#include "tools/line_floor/line_floor.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <semaphore>
#include <thread>
#include <vector>

namespace {

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    using namespace mub;
    const long blocks = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 0;
    if (blocks <= 0) {
        std::fprintf(stderr, "usage: line_floor PORT BLOCKS\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0) {
        std::fprintf(stderr, "line_floor: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    ::cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);

    std::counting_semaphore<> answers(0);
    std::atomic<ReplyLatency::Clock::rep> answeredAt{0};
    // Both threads wait for bytes as the program's listener and run do.
    askForPromptWakeups();
    std::thread([&] {
        askForPromptWakeups();
        std::uint8_t byte = 0;
        for (;;) {
            const ssize_t n = ::read(fd, &byte, 1);
            if (n == 1) {
                answeredAt = ReplyLatency::Clock::now().time_since_epoch().count();
                answers.release();
            }
            if (n < 0 && errno != EINTR) return;
        }
    }).detach();

    const std::vector<std::uint8_t> block(floor::blockBytes, 0x5A);
    const std::uint8_t hello = 0;
    if (!writeAll(fd, &hello, 1)) return 1;
    ReplyLatency latency; // MUB_REPLY_LATENCY, as in the program
    auto answered = [&] {
        answers.acquire();
        latency.arrived(ReplyLatency::Clock::time_point(ReplyLatency::Clock::duration(answeredAt.load())));
    };
    answered(); // the ready byte
    for (long i = 0; i < blocks; ++i) {
        latency.written(ReplyLatency::Clock::now());
        if (!writeAll(fd, block.data(), block.size())) return 1;
        answered();
    }
    const std::uint8_t end = floor::endByte;
    if (!writeAll(fd, &end, 1)) return 1;
    ::tcdrain(fd);
    latency.report();
    std::_Exit(0); // the listener is still in its read
}
