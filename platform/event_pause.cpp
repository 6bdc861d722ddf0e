#include "platform/event_pause.h"

#include <algorithm>
#include <thread>

namespace mub {

namespace {
// Shorter than this, a pause never sleeps on the system timer.
constexpr std::chrono::milliseconds sleepFloor{1};
// The end of a pause that is waited out watching the clock, never given away.
constexpr std::chrono::microseconds spinStretch{100};
} // namespace

void pauseHandlingEvents(PauseHost& host, std::chrono::microseconds length, bool wakeable) {
    using Clock = PauseHost::Clock;
    const Clock::time_point deadline = Clock::now() + std::max(length, std::chrono::microseconds::zero());
    for (;;) {
        host.handleEvents();
        if (host.abandoned() || (wakeable && host.takeWake())) return;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return;
        if (deadline - now >= sleepFloor) {
            host.waitForEvents(deadline, wakeable);
            continue;
        }
        // The last fraction of a millisecond: given way to other threads
        // while more than 100 microseconds are left, then the clock is
        // watched: a yield on a busy computer can hand the core away for a
        // whole scheduler tick, which would make the 10 microseconds between
        // an acknowledgement and the next block a few milliseconds. Events
        // that come meanwhile wait for the next pause, at most this long; a
        // wake ends it.
        for (;;) {
            const Clock::time_point at = Clock::now();
            if (at >= deadline) return;
            if (wakeable && host.takeWake()) return;
            if (deadline - at > spinStretch) std::this_thread::yield();
        }
    }
}

} // namespace mub
