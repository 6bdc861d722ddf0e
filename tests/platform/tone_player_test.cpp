#include "platform/tone_player.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <chrono>

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

// ALSA's null output stands in for a sound card: the samples go through the
// whole device path (parameters, writes, waiting for the buffer to drain).
TEST(TonePlayer, PlaysThroughAnAlsaDevice) {
    test::TempFolder folder;
    folder.write("asound.conf", "pcm.!default { type null }\n");
    ::setenv("ALSA_CONFIG_PATH", folder.path("asound.conf").c_str(), 1);
    auto start = Clock::now();
    bool played = playTone(1000, 150);
    long long elapsed = millisSince(start);
    ::unsetenv("ALSA_CONFIG_PATH");
    EXPECT_TRUE(played);
    EXPECT_GE(elapsed, 150);
    EXPECT_LT(elapsed, 5000);
}

} // namespace
} // namespace mub
