// The waits of the front ends without a window: a pause sleeps through to
// its end, and a stop reaches it by an interrupt or at its deadline.
#include "upgrade/headless_waits.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace mub {
namespace {

using namespace std::chrono_literals;
using Clock = HeadlessWaits::Clock;

TEST(HeadlessWaits, AStopFromAnotherThreadEndsAPauseAtItsInterrupt) {
    std::atomic<bool> stop{false};
    HeadlessWaits waits([&] { return stop.load(); });
    int stopsRun = 0;
    waits.onStop = [&] { ++stopsRun; };
    std::thread stopper([&] {
        std::this_thread::sleep_for(20ms);
        stop = true;
        waits.interrupt();
    });
    const auto began = Clock::now();
    waits.pause(30s);
    stopper.join();
    EXPECT_LT(Clock::now() - began, 10s);
    EXPECT_EQ(stopsRun, 1);
    EXPECT_TRUE(waits.stopDelivered());
}

TEST(HeadlessWaits, AStopDeadlineEndsAPauseWithoutAnInterrupt) {
    const auto deadline = Clock::now() + 30ms;
    HeadlessWaits waits([] { return false; });
    waits.setStopDeadline(deadline);
    waits.pause(30s);
    EXPECT_GE(Clock::now(), deadline);
    EXPECT_LT(Clock::now() - deadline, 10s);
    EXPECT_TRUE(waits.stopDelivered());
}

TEST(HeadlessWaits, APauseDoesNotWakeUpToLookAtTheStop) {
    int looks = 0;
    HeadlessWaits waits([&] {
        ++looks;
        return false;
    });
    waits.pause(200ms);
    // Once at its start and once at its end; a pause that slept in slices
    // to look at the flag would look dozens of times.
    EXPECT_LE(looks, 3);
    // A wakeable pause (a read) sleeps until its wake just the same.
    looks = 0;
    std::thread waker([&] {
        std::this_thread::sleep_for(100ms);
        waits.wake();
    });
    waits.pumpWait(20'000'000);
    waker.join();
    EXPECT_LE(looks, 3);
}

TEST(HeadlessWaits, ThePauseBeforeAReadIsTheFloorOfItsWait) {
    HeadlessWaits waits([] { return false; });
    // A wake that came first ends the wait, once the pause is over.
    waits.wake();
    auto began = Clock::now();
    waits.pumpWaitAfter(2000, 20'000'000);
    EXPECT_GE(Clock::now() - began, 2ms);
    EXPECT_LT(Clock::now() - began, 10s);
    // Without one it sleeps through the pause until the wake.
    std::thread waker([&] {
        std::this_thread::sleep_for(50ms);
        waits.wake();
    });
    began = Clock::now();
    waits.pumpWaitAfter(10, 20'000'000);
    waker.join();
    EXPECT_GE(Clock::now() - began, 50ms);
    EXPECT_LT(Clock::now() - began, 10s);
}

} // namespace
} // namespace mub
