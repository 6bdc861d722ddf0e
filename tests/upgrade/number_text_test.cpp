#include "link/frame.h"
#include "platform/gbk_text.h"
#include "upgrade/block_packet.h"
#include "upgrade/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace mub {
namespace {

TEST(ReadNumber, ReadsTheLeadingDecimalNumberLikeStrtod) {
    EXPECT_DOUBLE_EQ(readNumber("2.10"), 2.1);
    EXPECT_DOUBLE_EQ(readNumber("V2.1"), 0.0);
    EXPECT_DOUBLE_EQ(readNumber(""), 0.0);
    EXPECT_DOUBLE_EQ(readNumber("  -3.5e2xyz"), -350.0);
    EXPECT_DOUBLE_EQ(readNumber("+.5"), 0.5);
    EXPECT_DOUBLE_EQ(readNumber("7."), 7.0);
    EXPECT_DOUBLE_EQ(readNumber("1e"), 1.0);   // no digit after the exponent mark
    EXPECT_DOUBLE_EQ(readNumber("1e+"), 1.0);
    EXPECT_DOUBLE_EQ(readNumber("1.9.3"), 1.9);
    EXPECT_DOUBLE_EQ(readNumber("-"), 0.0);
    EXPECT_DOUBLE_EQ(readNumber("."), 0.0);
    EXPECT_DOUBLE_EQ(readNumber("9999999999"), 9999999999.0);
    EXPECT_TRUE(std::isinf(readNumber("1e999")));
    EXPECT_DOUBLE_EQ(readNumber("1e-999"), 0.0);
}

TEST(ReadNumber, BeyondTheRangeOfADoubleLikeStrtod) {
    // Too small reads as 0 and too large as infinity, also when the digits
    // alone, not the exponent, put the number out of range.
    const std::string zeros(400, '0');
    EXPECT_EQ(readNumber("0." + zeros + "1"), 0.0);
    EXPECT_EQ(readNumber("-0." + zeros + "1"), 0.0);
    EXPECT_EQ(readNumber("0." + zeros + "1e5"), 0.0);
    EXPECT_EQ(readNumber("1" + zeros), HUGE_VAL);
    EXPECT_EQ(readNumber("1" + zeros + "e-5"), HUGE_VAL);
    EXPECT_EQ(readNumber("-1" + zeros + ".5E-9"), -HUGE_VAL);
    EXPECT_EQ(readNumber("1e99999999999999999999"), HUGE_VAL);
    EXPECT_EQ(readNumber("1e-99999999999999999999"), 0.0);
    // Long texts that stay in range are read as usual.
    EXPECT_DOUBLE_EQ(readNumber("1" + zeros + "e-300"), 1e100);
    EXPECT_DOUBLE_EQ(readNumber("0." + zeros + "1e300"), 1e-101);
}

TEST(ReadNumber, FoldsFullWidthFormsFirst) {
    EXPECT_DOUBLE_EQ(readNumber(gbk("２．１")), 2.1);
    EXPECT_DOUBLE_EQ(readNumber(gbk("　－１２")), -12.0); // ideographic space and full-width minus
    EXPECT_DOUBLE_EQ(readNumber(gbk("版本2")), 0.0);
}

TEST(FoldFullWidth, StepsByCharacterSoTrailBytesAreNotFolded) {
    // B0A3 is one character whose trail byte equals the full-width lead; the
    // A3B1 after it is a full-width "1".
    EXPECT_EQ(foldFullWidth("\xB0\xA3\xA3\xB1"), "\xB0\xA3" "1");
    EXPECT_EQ(foldFullWidth(gbk("ＡＢ　ｃ")), "AB c");
    EXPECT_EQ(foldFullWidth("\xA3"), "\xA3"); // a lone lead byte at the end stays
}

TEST(NumberText, SixDecimalsWithoutTrailingZeros) {
    EXPECT_EQ(numberText(12.345), "12.345");
    EXPECT_EQ(numberText(12.5), "12.5");
    EXPECT_EQ(numberText(12.0), "12");
    EXPECT_EQ(numberText(1.5), "1.5");
    EXPECT_EQ(numberText(0.0), "0");
    EXPECT_EQ(numberText(100.0), "100"); // zeros before the point stay
    EXPECT_EQ(numberText(9999999999.0 + 1), "10000000000");
    EXPECT_EQ(numberText(83.456), "83.456");
}

TEST(BlockPacket, CarriesNumberComplementDataAndChecksum) {
    Bytes image(256);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
    const Bytes packet = buildBlockPacket(image, 1, 255);
    ASSERT_EQ(packet.size(), 133u);
    EXPECT_EQ(packet[0], 0x01);
    EXPECT_EQ(packet[1], 0xFF);
    EXPECT_EQ(packet[2], 0x00);
    EXPECT_TRUE(std::equal(image.begin() + 128, image.end(), packet.begin() + 3));
    const auto sum = checksum16(Bytes(image.begin() + 128, image.end()));
    EXPECT_EQ(packet[131], sum / 256);
    EXPECT_EQ(packet[132], sum % 256);

    const Bytes zero = buildBlockPacket(image, 0, 0);
    EXPECT_EQ(zero[1], 0x00);
    EXPECT_EQ(zero[2], 0xFF);
}

TEST(BlockPacket, AShortLastBlockIsFilledWithErasedBytes) {
    const Bytes image(130, 0x11);
    const Bytes packet = buildBlockPacket(image, 1, 2);
    EXPECT_EQ(packet[3], 0x11);
    EXPECT_EQ(packet[4], 0x11);
    EXPECT_TRUE(std::all_of(packet.begin() + 5, packet.begin() + 131, [](std::uint8_t b) { return b == 0xFF; }));
    // 2 * 0x11 + 126 * 0xFF
    EXPECT_EQ(packet[131] * 256 + packet[132], 2 * 0x11 + 126 * 0xFF);

    const Bytes erased = buildBlockPacket(Bytes{}, 0, 1);
    EXPECT_EQ(erased[131], 0x7F); // 128 * 255 = 32640
    EXPECT_EQ(erased[132], 0x80);
}

} // namespace
} // namespace mub
