// The sleep that another thread cuts short (a serial listener's bytes).
#include "platform/wake_wait.h"

#include <gtest/gtest.h>

#include <thread>

namespace mub {
namespace {

using namespace std::chrono_literals;

TEST(WakeWait, AWakeFromAnotherThreadEndsAWakeableSleepAndIsTakenOnce) {
    WakeWait wait;
    // The wake may come before or during the sleep; either ends it. Should
    // it be lost, the sleep ends at its deadline and the checks fail.
    std::thread waker([&] { wait.wake(); });
    const auto deadline = WakeWait::Clock::now() + 20s;
    wait.sleepUntil(deadline, true);
    waker.join();
    EXPECT_LT(WakeWait::Clock::now(), deadline);
    EXPECT_TRUE(wait.takeWake());
    EXPECT_FALSE(wait.takeWake());
}

TEST(WakeWait, APlainSleepLeavesTheWakeForLater) {
    WakeWait wait;
    wait.wake();
    wait.sleepUntil(WakeWait::Clock::now() + 2ms, false);
    EXPECT_TRUE(wait.takeWake());
}

TEST(WakeWait, AnInterruptEndsAPlainSleepOnceAndLeavesTheWake) {
    WakeWait wait;
    std::thread interrupter([&] { wait.interrupt(); });
    const auto deadline = WakeWait::Clock::now() + 20s;
    wait.sleepUntil(deadline, false);
    interrupter.join();
    EXPECT_LT(WakeWait::Clock::now(), deadline);
    EXPECT_FALSE(wait.takeWake());
    // Taken by the sleep it ended: the next one lasts.
    const auto next = WakeWait::Clock::now() + 5ms;
    wait.sleepUntil(next, false);
    EXPECT_GE(WakeWait::Clock::now(), next);
}

} // namespace
} // namespace mub
