// A sleep that another thread can cut short, and that lasts what it asks
// for whatever the period of the system's timer: on Linux a futex (the
// kernel's high-resolution timers), on Windows an event and a
// high-resolution waitable timer where the system has one.
#pragma once

#include <chrono>
#include <memory>

namespace mub {

class WakeWait {
public:
    using Clock = std::chrono::steady_clock;
    WakeWait();
    ~WakeWait();
    WakeWait(const WakeWait&) = delete;
    WakeWait& operator=(const WakeWait&) = delete;

    // From any thread: ends a wakeable sleep under way, or the next one.
    void wake();
    // From any thread: ends the sleep under way, or the next one, wakeable
    // or not (a stop that its sleeper is to look at now).
    void interrupt();
    // True when a wake came since the last call; takes it.
    bool takeWake();
    // Sleeps until `deadline`, an interrupt, or (`wakeable`) a wake that
    // was not taken yet; may return earlier.
    void sleepUntil(Clock::time_point deadline, bool wakeable);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace mub
