#include "platform/event_pause.h"

#include <algorithm>

namespace mub {

namespace {
// Shorter than this, a pause never sleeps on the system timer.
constexpr std::chrono::milliseconds sleepFloor{1};
// Events handled this recently are not looked for again at a pause's start.
constexpr std::chrono::microseconds recentlyHandled{200};

// Whether the events were handled (false when skipped as handled a moment ago).
bool handle(PauseHost& host, bool atStart) {
    PauseHost::Clock::time_point* handledAt = host.eventsHandledAt();
    if (!handledAt) {
        host.handleEvents();
        return true;
    }
    const PauseHost::Clock::time_point now = PauseHost::Clock::now();
    if (atStart && now - *handledAt < recentlyHandled) return false;
    *handledAt = now; // events that come while they are handled count as later
    host.handleEvents();
    return true;
}
} // namespace

void pauseHandlingEvents(PauseHost& host, std::chrono::microseconds length, bool wakeable,
                         std::chrono::microseconds floor) {
    using Clock = PauseHost::Clock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::max(length, std::chrono::microseconds::zero());
    const Clock::time_point floorEnd = std::min(start + std::max(floor, std::chrono::microseconds::zero()), deadline);
    bool woken = false;
    // Takes a wake when one came; true once the pause is over for it.
    auto over = [&] {
        if (wakeable && !woken) woken = host.takeWake();
        return woken && Clock::now() >= floorEnd;
    };
    for (bool atStart = true;; atStart = false) {
        bool handled = handle(host, atStart);
        if (host.abandoned() || over()) return;
        const Clock::time_point end = woken ? floorEnd : deadline;
        const Clock::time_point now = Clock::now();
        if (now >= end) return;
        if (end - now >= sleepFloor) {
            host.waitForEvents(end, wakeable && !woken);
            continue;
        }
        // The last fraction of a millisecond is watched on the clock. Giving
        // way instead would, whenever other work keeps the cores busy, hand
        // the core away for that work's whole time slice (milliseconds, and
        // each yield pushes this thread further back). Events that come
        // meanwhile wait for the next pause, at most this long; a wake ends it
        // (once the floor is over).
        // A pause that skipped its start still handles them once, when the
        // moment since the last handling is over before its own time is.
        while (Clock::now() < (woken ? floorEnd : deadline)) {
            if (over()) return;
            if (!handled && Clock::now() - *host.eventsHandledAt() >= recentlyHandled) {
                handled = handle(host, false);
                if (host.abandoned()) return;
            }
        }
        return;
    }
}

} // namespace mub
