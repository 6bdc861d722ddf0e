#include "tests/serial/pty_pair.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace mub::test {

PtyPair::PtyPair() {
    int slave = -1;
    char name[128] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "openpty failed, errno " << errno;
        return;
    }
    // The channel opens its own handle; the pair stays alive through the master.
    ::close(slave);
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    if (master_ >= 0) ::close(master_);
}

void PtyPair::hangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

void PtyPair::write(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            ADD_FAILURE() << "write to pty master failed, errno " << errno;
            return;
        }
    }
}

std::vector<std::uint8_t> PtyPair::read(std::size_t count, int timeoutMs) {
    std::vector<std::uint8_t> out;
    std::uint8_t buffer[4096];
    int waited = 0;
    while (out.size() < count && waited < timeoutMs) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 10) <= 0) {
            waited += 10;
            continue;
        }
        ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0)
            out.insert(out.end(), buffer, buffer + n);
        else
            waited += 10;
    }
    return out;
}

} // namespace mub::test
