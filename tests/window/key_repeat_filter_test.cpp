// F8 held down, as the X server and Windows repeat it (times in ms): only
// the first press and presses after a release count.
#include "app/key_repeat_filter.h"

#include <gtest/gtest.h>

namespace mub {
namespace {

TEST(KeyRepeatFilter, RepeatsWithoutReleasesAreNotNewPresses) {
    KeyRepeatFilter key;
    EXPECT_TRUE(key.press(1000));
    EXPECT_FALSE(key.press(1660));
    EXPECT_FALSE(key.press(1700));
    key.release(1710);
    EXPECT_TRUE(key.press(1900));
    // A release that never came does not lock the key out.
    EXPECT_TRUE(key.press(9000));
    // The clock wraps around.
    key.release(9100);
    EXPECT_TRUE(key.press(0xFFFFFF00u));
    EXPECT_FALSE(key.press(0x00000100u));
}

TEST(KeyRepeatFilter, ReleasePressPairsOfOneTimeAreRepeats) {
    KeyRepeatFilter key;
    EXPECT_TRUE(key.press(1000));
    key.release(1660);
    EXPECT_FALSE(key.press(1660));
    key.release(1700);
    EXPECT_FALSE(key.press(1700));
    key.release(1750);
    EXPECT_TRUE(key.press(1751)); // a real second press, however quick
}

} // namespace
} // namespace mub
