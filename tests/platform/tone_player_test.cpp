#include "platform/tone_player.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

namespace mub {
namespace {

using Clock = std::chrono::steady_clock;

long long millisSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Whether or not this machine has a sound device, a tone blocks for its
// length (the caller's wait is the tone) and does not hang beyond it.
TEST(TonePlayer, BlocksForTheToneWithOrWithoutADevice) {
    auto start = Clock::now();
    bool played = playTone(1000, 200);
    long long elapsed = millisSince(start);
    EXPECT_GE(elapsed, 200);
    EXPECT_LT(elapsed, 5000);
    std::printf("tone 1000 Hz / 200 ms: %s, %lld ms\n", played ? "played on the device" : "waited out", elapsed);

    // Frequencies no speaker plays are silent waits of the same length.
    start = Clock::now();
    EXPECT_FALSE(playTone(5, 50));
    EXPECT_GE(millisSince(start), 50);

    EXPECT_FALSE(playTone(1000, 0));
    EXPECT_FALSE(playTone(1000, -5));
}

} // namespace
} // namespace mub
