// Waits on Windows that last what they ask for, not up to the next tick of
// the system timer (1 ms at best with the fine period, 15.6 ms without it
// or for a minimised window on Windows 11): a high-resolution waitable
// timer, which Windows 10 1803 and later have. Where it is missing (Windows
// 7, older Windows 10, Wine) waits fall back to whole milliseconds of the
// system timer, cut below what is left, so that they do not end late by
// rounding; the caller spends the rest giving way.
#pragma once

#include <windows.h>

#include <chrono>

namespace mub {

class PreciseTimer {
public:
    using Clock = std::chrono::steady_clock;
    PreciseTimer();
    ~PreciseTimer();
    PreciseTimer(const PreciseTimer&) = delete;
    PreciseTimer& operator=(const PreciseTimer&) = delete;

    // Sets the timer to fire at `deadline`: true with handle() to wait on
    // (with no time-out of its own); false without a high-resolution timer,
    // then the wait's time-out is fallbackMilliseconds(deadline).
    bool arm(Clock::time_point deadline);
    HANDLE handle() const { return timer_; }

    static DWORD fallbackMilliseconds(Clock::time_point deadline);

private:
    HANDLE timer_ = nullptr;
};

} // namespace mub
