// A pseudo-terminal the test plays the other end of: the link (or the
// stand-in bridge) opens `path`, the test reads and writes `master`, which
// is raw and blocking.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace mub::test {

struct RawPty {
    int master = -1;
    std::string path;

    RawPty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(master);
        ::unlockpt(master);
        path = ::ptsname(master);
        termios tio{};
        ::tcgetattr(master, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(master, TCSANOW, &tio);
    }
    ~RawPty() { unplug(); }
    RawPty(const RawPty&) = delete;
    RawPty& operator=(const RawPty&) = delete;

    // Closes the test's end: the device is gone, as an unplugged adapter.
    void unplug() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    void send(std::uint8_t byte) const { ASSERT_EQ(::write(master, &byte, 1), 1); }
    void put(const std::string& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What the other end sent, until `count` bytes came or a second passed
    // without any.
    std::string take(std::size_t count) const {
        std::string got;
        while (got.size() < count) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0) break;
            char buffer[64];
            ssize_t n = ::read(master, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
};

} // namespace mub::test
