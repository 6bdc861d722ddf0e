// The pause rule every front end follows, on a host that records what the
// rule asks of it. Nothing here measures time: the checks are which of the
// host's operations a pause uses.
#include "platform/event_pause.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace mub {
namespace {

using namespace std::chrono_literals;

class RecordingHost : public PauseHost {
public:
    int handled = 0;
    int waits = 0;
    bool lastWaitWakeable = false;
    bool woken = false;
    bool stopped = false;
    // Runs inside handleEvents (a Stop click), and inside the wait (a byte arriving).
    std::function<void()> onEvents;
    std::function<void()> duringWait;

    void handleEvents() override {
        ++handled;
        if (onEvents) onEvents();
    }
    // Returns at once, as when an event came.
    void waitForEvents(Clock::time_point, bool wakeable) override {
        ++waits;
        lastWaitWakeable = wakeable;
        if (duringWait) duringWait();
    }
    bool takeWake() override {
        const bool was = woken;
        woken = false;
        return was;
    }
    bool abandoned() override { return stopped; }
    // Kept only when a test sets it up.
    std::optional<Clock::time_point> handledAt;
    Clock::time_point* eventsHandledAt() override { return handledAt ? &*handledAt : nullptr; }
};

TEST(EventPause, UnderAMillisecondHandlesTheEventsAndNeverWaitsOnTheSystem) {
    RecordingHost host;
    pauseHandlingEvents(host, 10us, false);
    pauseHandlingEvents(host, 999us, true);
    EXPECT_GE(host.handled, 2);
    EXPECT_EQ(host.waits, 0);
}

TEST(EventPause, FromAMillisecondItWaitsAndHandlesWhatEachWaitBrings) {
    RecordingHost host;
    pauseHandlingEvents(host, 3ms, false);
    EXPECT_GE(host.waits, 1);
    EXPECT_FALSE(host.lastWaitWakeable);
    // Every return from the wait is followed by handling the events.
    EXPECT_EQ(host.handled, host.waits + 1);
}

TEST(EventPause, EventsHandledAMomentAgoAreNotLookedForAtThePausesStart) {
    using HostClock = PauseHost::Clock;
    RecordingHost host;
    host.handledAt = HostClock::now() + 1h; // as good as just now, however slow this machine is
    pauseHandlingEvents(host, 10us, false);
    EXPECT_EQ(host.handled, 0);
    // A pause that waits still handles what each wait brings.
    pauseHandlingEvents(host, 3ms, false);
    EXPECT_GE(host.waits, 1);
    EXPECT_EQ(host.handled, host.waits);

    // A longer pause handles them once that moment is over.
    RecordingHost longer;
    longer.handledAt = HostClock::now();
    pauseHandlingEvents(longer, 900us, false);
    EXPECT_EQ(longer.handled, 1);

    RecordingHost later;
    const HostClock::time_point longAgo = HostClock::now() - 1s;
    later.handledAt = longAgo;
    pauseHandlingEvents(later, 10us, false);
    EXPECT_EQ(later.handled, 1);
    EXPECT_GT(*later.handledAt, longAgo); // remembered for the next pause
}

TEST(EventPause, AStopHandledInsideEndsThePauseAtOnce) {
    RecordingHost host;
    host.onEvents = [&] { host.stopped = host.handled == 2; };
    // Bounded: should the stop be missed, the pause ends after its 2 s.
    pauseHandlingEvents(host, 2s, false);
    EXPECT_EQ(host.handled, 2);
    EXPECT_EQ(host.waits, 1);
}

TEST(EventPause, AWakeEndsOnlyAWakeablePauseAndIsTakenOnce) {
    RecordingHost host;
    host.woken = true; // came before the pause began
    pauseHandlingEvents(host, 2s, true);
    EXPECT_EQ(host.waits, 0);
    EXPECT_FALSE(host.woken);

    RecordingHost during;
    during.duringWait = [&] { during.woken = true; };
    pauseHandlingEvents(during, 2s, true);
    EXPECT_EQ(during.waits, 1);
    EXPECT_TRUE(during.lastWaitWakeable);
    EXPECT_EQ(during.handled, 2); // what came with the wake is handled first

    RecordingHost plain;
    plain.woken = true;
    pauseHandlingEvents(plain, 1500us, false);
    EXPECT_TRUE(plain.woken); // left for the next wakeable pause
}

TEST(EventPause, AFlooredPauseSleepsUntilTheWakeAndEndsNoSoonerThanItsFloor) {
    using HostClock = PauseHost::Clock;
    // No wake yet: it sleeps, wakeable, through the floor too.
    RecordingHost host;
    host.duringWait = [&] { host.woken = true; };
    pauseHandlingEvents(host, 2s, true, 10us);
    EXPECT_EQ(host.waits, 1);
    EXPECT_TRUE(host.lastWaitWakeable);
    EXPECT_FALSE(host.woken);

    // A wake that came first ends it, but only once the floor is over.
    RecordingHost early;
    early.woken = true;
    const HostClock::time_point start = HostClock::now();
    pauseHandlingEvents(early, 2s, true, 300us);
    EXPECT_GE(HostClock::now() - start, 300us);
    EXPECT_EQ(early.waits, 0);
    EXPECT_FALSE(early.woken);

    // A floor of a millisecond or more is slept, not woken by another wake.
    RecordingHost longFloor;
    longFloor.woken = true;
    longFloor.duringWait = [&] { longFloor.woken = true; };
    pauseHandlingEvents(longFloor, 2s, true, 3ms);
    EXPECT_GE(longFloor.waits, 1);
    EXPECT_FALSE(longFloor.lastWaitWakeable);
}

} // namespace
} // namespace mub
