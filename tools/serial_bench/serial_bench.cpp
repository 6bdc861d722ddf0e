// serial_bench [idle-seconds]: prints figures for the serial channel over a
// pseudo-terminal pair.
//   1. 1 MiB into the channel (machine -> tool): complete and in order?
//      Throughput, number of onData calls.
//   2. 1 MiB out through send (tool -> machine): complete and in order?
//   3. The listener's CPU while idle, from getrusage and /proc/self/task,
//      and how often it wakes (voluntary context switches): on the bare
//      pseudo-terminal, and with modem lines to poll as a UART has them.
//   4. How long close takes, idle and while data flows.
#include "platform/linux_serial_port.h"
#include "serial/serial_channel.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t megabyte = 1u << 20;
constexpr int benchPort = 1;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::uint8_t> pattern(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    std::uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

void writeAll(int fd, const std::uint8_t* data, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t k = ::write(fd, data + done, n - done);
        if (k > 0) {
            done += static_cast<std::size_t>(k);
        } else if (k < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            std::fprintf(stderr, "write to pty failed: errno %d\n", errno);
            return;
        }
    }
}

struct Pty {
    int master = -1;
    std::string path;
    Pty() {
        int slave = -1;
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        ::close(slave);
        path = name;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { ::close(master); }
};

bool openChannel(mub::SerialChannel& channel, mub::SerialDataHandler onData) {
    mub::SerialSettings settings;
    settings.baudRate = 115200;
    return channel.open(benchPort, settings, std::move(onData), {}, {},
                        [](const std::string& text) { std::fprintf(stderr, "channel error: %s\n", text.c_str()); });
}

void receiveMegabyte(Pty& pty) {
    mub::SerialChannel channel;
    channel.ports().setOverride(benchPort, pty.path);
    std::mutex lock;
    std::vector<std::uint8_t> received;
    received.reserve(megabyte);
    long calls = 0;
    if (!openChannel(channel, [&](const std::uint8_t* b, std::int32_t n) {
            std::lock_guard<std::mutex> guard(lock);
            if (n > 0) ++calls;
            received.insert(received.end(), b, b + n);
        }))
        std::exit(1);
    const auto data = pattern(megabyte);
    auto start = Clock::now();
    std::thread writer([&] { writeAll(pty.master, data.data(), data.size()); });
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (received.size() >= data.size()) break;
        }
        if (secondsSince(start) > 30) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    double seconds = secondsSince(start);
    writer.join();
    channel.close();
    bool same = received == data;
    std::printf("receive 1 MiB: %zu bytes, %s, %.3f s, %.1f MiB/s, %ld onData calls (%.0f bytes each on average)\n",
                received.size(), same ? "complete and in order" : "MISMATCH", seconds,
                static_cast<double>(received.size()) / megabyte / seconds, calls,
                calls ? static_cast<double>(received.size()) / static_cast<double>(calls) : 0.0);
}

void sendMegabyte(Pty& pty) {
    mub::SerialChannel channel;
    channel.ports().setOverride(benchPort, pty.path);
    if (!openChannel(channel, [](const std::uint8_t*, std::int32_t) {})) std::exit(1);
    const auto data = pattern(megabyte);
    std::vector<std::uint8_t> got;
    got.reserve(megabyte);
    std::thread reader([&] {
        std::uint8_t buffer[65536];
        auto start = Clock::now();
        while (got.size() < data.size() && secondsSince(start) < 30) {
            pollfd p{pty.master, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            ssize_t n = ::read(pty.master, buffer, sizeof buffer);
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
        }
    });
    auto start = Clock::now();
    std::int32_t written = 0;
    bool ok = channel.send(data.data(), static_cast<std::int32_t>(data.size()), &written);
    double sendSeconds = secondsSince(start);
    reader.join();
    double seconds = secondsSince(start);
    channel.close();
    std::printf("send 1 MiB: send %s, %d bytes written in %.3f s; %zu bytes arrived, %s, %.3f s, %.1f MiB/s\n",
                ok ? "true" : "false", written, sendSeconds, got.size(),
                got == data ? "complete and in order" : "MISMATCH", seconds,
                static_cast<double>(got.size()) / megabyte / seconds);
}

struct TaskTimes {
    long ticks = 0;        // user + system, in clock ticks
    long voluntary = 0;    // voluntary context switches
};

// CPU ticks and wake-ups of every thread of this process except `skip`.
TaskTimes otherThreads(pid_t skip) {
    TaskTimes total;
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return total;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        if (std::atoi(e->d_name) == skip) continue;
        std::ifstream stat(std::string("/proc/self/task/") + e->d_name + "/stat");
        std::string line;
        std::getline(stat, line);
        auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(line.substr(close + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; fields >> field; ++i) {
            if (i == 14) utime = std::atol(field.c_str());
            if (i == 15) {
                stime = std::atol(field.c_str());
                break;
            }
        }
        total.ticks += utime + stime;
        std::ifstream status(std::string("/proc/self/task/") + e->d_name + "/status");
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total.voluntary += std::atol(line.c_str() + 24);
    }
    closedir(dir);
    return total;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto tv = [](timeval t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return tv(usage.ru_utime) + tv(usage.ru_stime);
}

// A terminal whose driver reports modem lines, as a UART does: the listener
// then looks at the line every pass instead of sleeping until input comes.
class PolledLines : public mub::LinuxSerialPort {
protected:
    int driverModemLines(int, int& lines) override {
        lines = mub::ModemCts | mub::ModemDsr;
        return 0;
    }
};

void idleCpu(Pty& pty, int seconds, bool withModemLines) {
    PolledLines polled;
    mub::SerialChannel channel(mub::PortTable(), withModemLines ? static_cast<mub::SerialPortServices&>(polled)
                                                                : mub::systemSerialPortServices());
    channel.ports().setOverride(benchPort, pty.path);
    if (!openChannel(channel, [](const std::uint8_t*, std::int32_t) {})) std::exit(1);
    const pid_t self = gettid();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    TaskTimes before = otherThreads(self);
    double cpuBefore = cpuSeconds();
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double wall = secondsSince(start);
    double cpu = cpuSeconds() - cpuBefore; // the main thread sleeps: this is the listener
    TaskTimes after = otherThreads(self);
    channel.close();
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    std::printf("idle listener%s over %.1f s: process CPU %.4f s (%.3f %% of one core, getrusage); "
                "listener threads %.2f s (/proc/self/task, %ld ticks of %.0f ms); %.1f wake-ups/s\n",
                withModemLines ? " (modem lines polled, as on a UART)" : " (pseudo-terminal)", wall, cpu,
                100.0 * cpu / wall, static_cast<double>(after.ticks - before.ticks) / tick,
                after.ticks - before.ticks, 1000.0 / tick,
                static_cast<double>(after.voluntary - before.voluntary) / wall);
}

void closeLatency(Pty& pty) {
    mub::SerialChannel channel;
    channel.ports().setOverride(benchPort, pty.path);
    const int rounds = 20;
    // Opens and closes `rounds` times; total and worst time of the closes.
    auto measureCloses = [&](double& total, double& worst) {
        for (int i = 0; i < rounds; ++i) {
            if (!openChannel(channel, [](const std::uint8_t*, std::int32_t) {})) std::exit(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            auto start = Clock::now();
            channel.close();
            double s = secondsSince(start);
            total += s;
            worst = std::max(worst, s);
        }
    };
    double idleWorst = 0, idleTotal = 0;
    measureCloses(idleTotal, idleWorst);
    std::atomic<bool> stop{false};
    std::thread chatter([&] {
        std::uint8_t block[512] = {};
        while (!stop.load())
            if (::write(pty.master, block, sizeof block) < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    double busyWorst = 0, busyTotal = 0;
    measureCloses(busyTotal, busyWorst);
    stop = true;
    chatter.join();
    std::printf("close: idle mean %.3f ms, worst %.3f ms; while data flows mean %.3f ms, worst %.3f ms (%d rounds each)\n",
                1000 * idleTotal / rounds, 1000 * idleWorst, 1000 * busyTotal / rounds, 1000 * busyWorst, rounds);
}

} // namespace

int main(int argc, char** argv) {
    int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 5;
    if (idleSeconds < 1) idleSeconds = 1;
    Pty pty;
    receiveMegabyte(pty);
    sendMegabyte(pty);
    idleCpu(pty, idleSeconds, false);
    idleCpu(pty, idleSeconds, true);
    closeLatency(pty);
    return 0;
}
