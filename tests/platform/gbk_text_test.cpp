#include "platform/gbk_text.h"

#include <gtest/gtest.h>

namespace mub {
namespace {

TEST(GbkText, ConvertsBothWays) {
    std::string g = gbk("升级完成！");
    EXPECT_EQ(g.size(), 10u); // five two-byte characters
    EXPECT_EQ(g.substr(0, 2), "\xC9\xFD");
    EXPECT_EQ(utf8(g), "升级完成！");
    EXPECT_EQ(gbk("abc"), "abc");
}

TEST(GbkText, UpgradeKeyIsTwentyBytes) { EXPECT_EQ(gbk("远航数码#472913!口令").size(), 20u); }

TEST(GbkText, InvalidBytesAreReplacedNotLost) {
    EXPECT_EQ(gbk("a\xF0\x9F\x98\x80" "b"), "a?b"); // an emoji has no GBK form
    EXPECT_EQ(utf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(utf8("a\xC9"), "a\xEF\xBF\xBD"); // truncated two-byte character
}

TEST(GbkText, FindStepsByCharacters) {
    // The second byte of 0xB0 0x69 looks like 'i' but is no character start.
    std::string text = "\xB0" "id=1";
    EXPECT_EQ(findGbk(text, "id="), std::string::npos);
    EXPECT_EQ(findGbk("xid=1", "id="), 1u);
    EXPECT_EQ(findGbk("id=1 id=2", "id=", 1), 5u);
    EXPECT_EQ(findGbk("ID=1", "id="), std::string::npos);
}

TEST(GbkText, RemoveIgnoresAsciiCaseAndKeepsTwoByteCharacters) {
    EXPECT_EQ(removeAllIgnoringAsciiCase("id=XID=Y", "id="), "XY");
    EXPECT_EQ(removeAllIgnoringAsciiCase("id=A id=B", "id="), "A B");
    std::string text = "\xB0" "id=" "\xB0";
    // 0xB0 'i' is one character, so "id=" is not found at byte 1.
    EXPECT_EQ(removeAllIgnoringAsciiCase(text, "id="), text);
}

TEST(GbkText, ByteHelpers) {
    EXPECT_EQ(lastBytes("abcdef", 3), "def");
    EXPECT_EQ(lastBytes("ab", 8), "ab");
    EXPECT_EQ(upToFirstNul(std::string_view("AB\0C", 4)), "AB");
    EXPECT_EQ(upToFirstNul("ABC"), "ABC");
}

} // namespace
} // namespace mub
