#include "platform/event_pause.h"

#include <algorithm>
#include <thread>

namespace mub {

namespace {
// Shorter than this, a pause never sleeps on the system timer.
constexpr std::chrono::milliseconds sleepFloor{1};
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
        // The last fraction of a millisecond: give way until the deadline.
        // Events that come meanwhile wait for the next pause, at most this
        // long; a wake ends it.
        for (;;) {
            std::this_thread::yield();
            if (Clock::now() >= deadline) return;
            if (wakeable && host.takeWake()) return;
        }
    }
}

} // namespace mub
