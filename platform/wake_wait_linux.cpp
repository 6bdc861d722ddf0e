#include "platform/wake_wait.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <ctime>

namespace mub {
namespace {

constexpr std::uint32_t woken = 1;
constexpr std::uint32_t interrupted = 2;

// Sleeps while `word` holds `expected`, until the absolute `deadline` on
// the monotonic clock (that of steady_clock); returns on a wake, a change,
// a signal or the deadline alike.
void futexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, WakeWait::Clock::time_point deadline) {
    const auto since = deadline.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    timespec until{};
    until.tv_sec = static_cast<time_t>(seconds.count());
    until.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_BITSET_PRIVATE, expected, &until, nullptr,
            FUTEX_BITSET_MATCH_ANY);
}

void futexWakeAll(std::atomic<std::uint32_t>& word) {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

} // namespace

// A futex on one word of flags, not a mutex and a condition variable: a
// wake costs the sleeper one system call to sleep and the waker one to
// wake it, and nothing when nobody sleeps. (A condition variable's sleeper
// takes its mutex back as if contended, which costs another call to let it
// go, and every wake and take locks it.)
struct WakeWait::State {
    std::atomic<std::uint32_t> flags{0};
    std::atomic<std::uint32_t> sleepers{0};

    void raise(std::uint32_t flag) {
        // Both sides are sequentially consistent: either the sleeper sees
        // the flag before it sleeps, or the waker sees the sleeper (and a
        // sleep that began meanwhile finds the word changed).
        flags.fetch_or(flag);
        if (sleepers.load() != 0) futexWakeAll(flags);
    }
};

WakeWait::WakeWait() : state_(std::make_unique<State>()) {}

WakeWait::~WakeWait() = default;

void WakeWait::wake() { state_->raise(woken); }

void WakeWait::interrupt() { state_->raise(interrupted); }

bool WakeWait::takeWake() {
    // Most looks find nothing: no write then.
    if ((state_->flags.load() & woken) == 0) return false;
    return (state_->flags.fetch_and(~woken) & woken) != 0;
}

void WakeWait::sleepUntil(Clock::time_point deadline, bool wakeable) {
    State& s = *state_;
    s.sleepers.fetch_add(1);
    for (;;) {
        const std::uint32_t now = s.flags.load();
        if ((now & interrupted) != 0 || (wakeable && (now & woken) != 0)) break;
        if (Clock::now() >= deadline) break;
        futexWait(s.flags, now, deadline);
    }
    s.sleepers.fetch_sub(1);
    s.flags.fetch_and(~interrupted);
}

} // namespace mub
