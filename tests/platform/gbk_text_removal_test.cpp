#include "platform/gbk_text.h"

#include <gtest/gtest.h>

namespace mub {
namespace {

// Removal copies the text between matches in runs; these cases hit the run
// edges: matches at both ends, adjacent matches, a needle in upper case, a
// two-byte character just before a match and a lead byte cut off at the end.
TEST(GbkTextRemoval, RunEdgesAreKept) {
    EXPECT_EQ(removeAllIgnoringAsciiCase("data=00data=", "data="), "00");
    EXPECT_EQ(removeAllIgnoringAsciiCase("DATA=data=x", "data="), "x");
    EXPECT_EQ(removeAllIgnoringAsciiCase("xData=y", "DATA="), "xy");
    EXPECT_EQ(removeAllIgnoringAsciiCase("data=", "data="), "");
    EXPECT_EQ(removeAllIgnoringAsciiCase("dat", "data="), "dat");
    EXPECT_EQ(removeAllIgnoringAsciiCase("\xB0\xA1" "id=1", "id="), "\xB0\xA1" "1");
    EXPECT_EQ(removeAllIgnoringAsciiCase("id=1\xB0", "id="), "1\xB0");
    EXPECT_EQ(removeAllIgnoringAsciiCase("abc", ""), "abc");
    std::string big = "data=" + std::string(100000, 'F') + "data=" + std::string(3, 'E');
    EXPECT_EQ(removeAllIgnoringAsciiCase(big, "data="), std::string(100000, 'F') + "EEE");
}

TEST(GbkTextRemoval, FindChecksTheWholeNeedle) {
    EXPECT_EQ(findGbk("Firmwar", "Firmware="), std::string::npos);
    EXPECT_EQ(findGbk("FFFirmware=", "Firmware="), 2u);
    EXPECT_EQ(findGbk("\xB0" "F" "Firmware=", "Firmware="), 2u);
}

// Searches pass ASCII stretches eight bytes at a time; a two-byte character
// may start at any offset within such a stretch, or after a run of lead bytes.
TEST(GbkTextRemoval, CharacterStartsHoldAfterAsciiRunsOfEveryLength) {
    for (std::size_t n = 0; n < 20; ++n) {
        std::string ascii(n, 'x');
        // 0xB0 'i' is one character: no tag there, only after a whole character.
        EXPECT_EQ(findGbk(ascii + "\xB0" "id=A", "id="), std::string::npos) << n;
        EXPECT_EQ(findGbk(ascii + "\xB0\xA1" "id=A", "id="), n + 2) << n;
        EXPECT_EQ(removeAllIgnoringAsciiCase("id=" + ascii + "\xB0" "ID=" + "ID=", "id="), ascii + "\xB0" "ID=") << n;
        // Three lead bytes: the third pairs with 'i'; four: the tag stands free.
        EXPECT_EQ(findGbk(ascii + "\xB0\xB0\xB0" "id=", "id="), std::string::npos) << n;
        EXPECT_EQ(findGbk(ascii + "\xB0\xB0\xB0\xB0" "id=", "id="), n + 4) << n;
        EXPECT_EQ(removeAllIgnoringAsciiCase(ascii + "\xB0\xB0\xB0\xB0" "Data=", "data="), ascii + "\xB0\xB0\xB0\xB0") << n;
    }
}

} // namespace
} // namespace mub
