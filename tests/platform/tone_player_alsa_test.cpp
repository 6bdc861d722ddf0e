#include "platform/tone_player.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace mub {
namespace {

using Clock = std::chrono::steady_clock;

// ALSA's null output stands in for a sound card: the samples go through the
// whole device path (parameters, writes, waiting for the buffer to drain).
TEST(TonePlayer, PlaysThroughAnAlsaDevice) {
    test::TempFolder folder;
    folder.write("asound.conf", "pcm.!default { type null }\n");
    ::setenv("ALSA_CONFIG_PATH", folder.path("asound.conf").c_str(), 1);
    auto start = Clock::now();
    bool played = playTone(1000, 150);
    long long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    ::unsetenv("ALSA_CONFIG_PATH");
    EXPECT_TRUE(played);
    EXPECT_GE(elapsed, 150);
    EXPECT_LT(elapsed, 5000);
}

} // namespace
} // namespace mub
