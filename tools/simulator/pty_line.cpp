#include "tools/simulator/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace mub::sim {

namespace {
constexpr int sliceMs = 50; // longest wait between looks at the stop flag

// A UART keeps its byte times to the microsecond; a sleep of the system
// ends tens of microseconds late even with the least timer slack (which each
// thread asks for once: the default 50 microseconds come on top). The last
// stretch is watched on the clock: giving way instead would hand the core to
// other work for its whole time slice whenever the cores are busy.
void sleepUntilExactly(std::chrono::steady_clock::time_point when) {
    constexpr auto lastStretch = std::chrono::microseconds(100);
    thread_local const bool leastSlack = ::prctl(PR_SET_TIMERSLACK, 1UL) == 0;
    (void)leastSlack;
    std::this_thread::sleep_until(when - lastStretch);
    while (std::chrono::steady_clock::now() < when) {
    }
}
} // namespace

PtyLine::~PtyLine() { close(); }

bool PtyLine::open(std::uint32_t baud, std::string& error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        close();
        return false;
    }
    char name[256];
    if (::ptsname_r(master_, name, sizeof name) != 0) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        close();
        return false;
    }
    slavePath_ = name;
    slaveHold_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slaveHold_ < 0) {
        error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
        close();
        return false;
    }
    // Raw both ways: no echo, no line editing, no character translation.
    termios tio{};
    if (::tcgetattr(slaveHold_, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(slaveHold_, TCSANOW, &tio);
    }
    if (::tcgetattr(master_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(master_, TCSANOW, &tio);
    }
    if (baud > 0) byteTime_ = std::chrono::nanoseconds(10'000'000'000LL / baud);
    rxFree_ = txNext_ = Clock::now();
    return true;
}

void PtyLine::close() {
    if (slaveHold_ >= 0) ::close(slaveHold_);
    if (master_ >= 0) ::close(master_);
    slaveHold_ = master_ = -1;
}

bool PtyLine::read(std::vector<std::uint8_t>& out, int timeoutMs, const std::atomic<bool>& stop) {
    if (master_ < 0) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        // Bytes already received are taken even after a stop, so a last
        // byte the tool wrote before going away still counts.
        std::uint8_t buffer[512];
        ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            const auto now = Clock::now();
            rxFree_ = std::max(rxFree_, now) + byteTime_ * n;
            out.insert(out.end(), buffer, buffer + n);
            return true;
        }
        if (stop.load()) return false;
        int wait = sliceMs;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            wait = static_cast<int>(std::min<long long>(left, sliceMs));
        }
        if (n < 0 && errno == EIO) {
            // No terminal open on the other side: wait for the tool to come back.
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, 10)));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, wait) > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN))
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, 10)));
    }
}

void PtyLine::reply(const std::vector<std::uint8_t>& bytes, const std::atomic<bool>& stop) {
    if (byteTime_.count() > 0) txNext_ = std::max(txNext_, rxFree_);
    write(bytes, stop);
}

void PtyLine::waitTaken(std::chrono::milliseconds limit) {
    const auto start = Clock::now();
    // Bytes reach the other side's queue a little after the write; an empty
    // queue means they were taken once they were seen there, or after a while.
    constexpr auto surelyArrived = std::chrono::milliseconds(50);
    bool arrived = false;
    while (slaveHold_ >= 0 && Clock::now() - start < limit) {
        int queued = 0;
        if (::ioctl(slaveHold_, FIONREAD, &queued) != 0) return;
        if (queued > 0)
            arrived = true;
        else if (arrived || Clock::now() - start >= surelyArrived)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void PtyLine::holdPeerOutput() {
    if (slaveHold_ < 0) return;
    // The terminal's settings are shared by every opening of it, the tool's too.
    termios tio{};
    if (::tcgetattr(slaveHold_, &tio) != 0) return;
    tio.c_iflag |= IXON;
    ::tcsetattr(slaveHold_, TCSANOW, &tio);
    const std::uint8_t stop = tio.c_cc[VSTOP];
    const std::atomic<bool> never{false};
    writeOne(&stop, 1, never);
}

bool PtyLine::writeOne(const std::uint8_t* bytes, std::size_t count, const std::atomic<bool>& stop) {
    const auto giveUp = Clock::now() + std::chrono::seconds(2);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(master_, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if ((n < 0 && errno != EAGAIN && errno != EIO) || stop.load() || Clock::now() >= giveUp) return false;
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
    return true;
}

void PtyLine::write(const std::vector<std::uint8_t>& bytes, const std::atomic<bool>& stop) {
    if (master_ < 0 || bytes.empty()) return;
    if (byteTime_.count() == 0) {
        writeOne(bytes.data(), bytes.size(), stop);
        return;
    }
    // Each byte leaves at its own slot on the line; absolute times keep the
    // rate exact however long each write call takes.
    txNext_ = std::max(txNext_, Clock::now());
    // A byte is handed over when its last bit would have reached the tool.
    for (std::uint8_t b : bytes) {
        txNext_ += byteTime_;
        sleepUntilExactly(txNext_);
        if (!writeOne(&b, 1, stop)) return;
    }
}

} // namespace mub::sim
