// The sleep that another thread cuts short (a serial listener's bytes).
#include "platform/wake_wait.h"

#include <gtest/gtest.h>

#include <atomic>
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

// Two threads hand a turn back and forth through two sleeps: a wake that
// comes just as its sleeper goes to sleep must still end that sleep. One
// that is lost leaves a sleep to run to its deadline, far beyond the rest.
TEST(WakeWait, NoWakeIsLostInManyHandOvers) {
    WakeWait ping, pong;
    constexpr int rounds = 2000;
    std::atomic<int> lost{0};
    auto take = [&](WakeWait& wait) {
        const auto deadline = WakeWait::Clock::now() + 20s;
        while (!wait.takeWake()) {
            if (WakeWait::Clock::now() >= deadline) {
                ++lost;
                return;
            }
            wait.sleepUntil(deadline, true);
        }
    };
    std::thread other([&] {
        for (int i = 0; i < rounds && lost == 0; ++i) {
            take(ping);
            pong.wake();
        }
    });
    for (int i = 0; i < rounds && lost == 0; ++i) {
        ping.wake();
        take(pong);
    }
    other.join();
    EXPECT_EQ(lost.load(), 0);
}

} // namespace
} // namespace mub
