// Starts a silent simulated machine, lets connectMachine probe it for a
// while (COM mode through the serial channel, USB mode through the stand-in
// bridge library), presses Stop and prints the processor time the process
// used per second of wall time. Two more runs measure the USB search when no
// device is present at all (by a named device, and by USB ids).
//
//   linkcpu [SECONDS]    (default 10)
#include "link/baud_rates.h"
#include "link/bridge_binding.h"
#include "link/bridge_transport.h"
#include "link/connect_machine.h"
#include "link/machine_link.h"
#include "link/serial_transport.h"
#include "platform/waits.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Waits that only keep time: pauses sleep, wake-ups cut pumpWait short,
// and Stop is pressed once the deadline has passed.
class QuietWaits : public mub::Waits {
public:
    QuietWaits(mub::MachineLink*& link, Clock::time_point deadline) : link_(link), deadline_(deadline) {}
    void armTimeout(int) override {}
    bool timeoutElapsed() const override { return false; }
    void clearTimeoutElapsed() override {}
    std::uint32_t tickCount() const override {
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
    }
    void pumpDelay(std::int32_t microseconds) override {
        checkStop();
        std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
    }
    void pumpWait(std::int32_t microseconds) override {
        checkStop();
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, std::chrono::microseconds(microseconds), [this] { return woken_; });
        woken_ = false;
    }
    void wake() override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            woken_ = true;
        }
        cv_.notify_all();
    }
private:
    void checkStop() {
        if (link_ && Clock::now() >= deadline_) link_->running = false;
    }
    mub::MachineLink*& link_;
    Clock::time_point deadline_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool woken_ = false;
};

struct Silent {
    pid_t pid = -1;
    std::string path;
    explicit Silent(const std::string& mubtool) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::string a0 = mubtool, a1 = "simulate", a2 = "--silent";
        char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
        if (::posix_spawn(&pid, mubtool.c_str(), &actions, nullptr, argv, environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        char c = 0;
        while (pid > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') path += c;
        ::close(fds[0]);
    }
    ~Silent() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs connectMachine for `seconds` and prints what it cost.
using TransportMaker = std::function<std::unique_ptr<mub::Transport>(mub::Waits&)>;

void measure(const char* label, double seconds, const TransportMaker& makeTransport) {
    mub::MachineLink* linkRef = nullptr;
    const auto start = Clock::now();
    QuietWaits waits(linkRef, start + std::chrono::microseconds(static_cast<long long>(seconds * 1e6)));
    const std::unique_ptr<mub::Transport> transport = makeTransport(waits);
    mub::MachineLink link(waits, *transport);
    link.portName = "COM1";
    linkRef = &link;
    const double cpuBefore = cpuSeconds();
    mub::NoObserver quiet;
    const bool connected = mub::connectMachine(link, mub::defaultBaudIndex, quiet).has_value();
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    link.closeTransport();
    std::printf("%-34s wall %6.2f s  cpu %6.3f s  = %5.1f %% of one core%s\n", label, wall, cpu, 100.0 * cpu / wall,
                connected ? "  (unexpectedly connected)" : "");
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: linkcpu [SECONDS]\n");
        return 1;
    }
    const std::string dir = mub::programDirectory();
    Silent machine(dir + "mubtool");
    if (machine.path.empty()) {
        std::fprintf(stderr, "linkcpu: cannot start %smubtool simulate\n", dir.c_str());
        return 2;
    }
    std::printf("silent machine on %s, %.0f s per run\n", machine.path.c_str(), seconds);

    // COM mode: every port number leads to the silent machine, so the search
    // keeps probing it (100 probes a port attempt) for the whole run.
    mub::PortTable ports;
    for (int n = 1; n <= 255; ++n) ports.setOverride(n, machine.path);
    measure("COM, probing a silent port", seconds,
            [&](mub::Waits& waits) { return std::make_unique<mub::SerialTransport>(waits, ports); });

    mub::BridgeBinding bridge;
    if (!bridge.load()) {
        std::fprintf(stderr, "linkcpu: %s\n", bridge.error().c_str());
        return 2;
    }
    const TransportMaker usb = [&](mub::Waits&) { return std::make_unique<mub::BridgeTransport>(&bridge); };
    ::setenv("BRIDGEMINI_DEVICE", machine.path.c_str(), 1);
    measure("USB, probing a silent device", seconds, usb);
    ::setenv("BRIDGEMINI_DEVICE", "/nonexistent/ttyUSB-none", 1);
    measure("USB, no device (named device)", seconds, usb);
    // The usual set-up: the bridge searches the USB ttys at every connect.
    ::unsetenv("BRIDGEMINI_DEVICE");
    measure("USB, no device (USB id search)", seconds, usb);
    return 0;
}
