#include "platform/gbk_text.h"
#include "upgrade_file/hex_image.h"
#include "upgrade_file/tag_lines.h"

#include <gtest/gtest.h>

namespace mub {
namespace {

TEST(TagLines, ReadsAllFourTagsInAnyOrderIgnoringOtherLines) {
    TagValues v = parseTagLines("comment\r\n\r\ndata=0A0B\r\nFirmware=2.1\r\n[section]\r\nISPVer=HW 1\r\nid=M-1\r\n");
    EXPECT_EQ(v.modelId, "M-1");
    EXPECT_EQ(v.hardwareVersion, "HW 1");
    EXPECT_EQ(v.softwareVersion, "2.1");
    EXPECT_EQ(v.data, "0A0B");
    EXPECT_TRUE(v.complete());
}

TEST(TagLines, LaterLinesOverrideAndABareTagEmptiesTheValue) {
    EXPECT_EQ(parseTagLines("Firmware=1.0\r\nFirmware=1.1").softwareVersion, "1.1");
    TagValues emptied = parseTagLines("id=a\r\nISPVer=b\r\ndata=00\r\nFirmware=1.0\r\nFirmware=");
    EXPECT_EQ(emptied.softwareVersion, "");
    EXPECT_FALSE(emptied.complete());
    EXPECT_EQ(parseTagLines("Firmware=1.0\r\nFirmware=\r\nFirmware=3").softwareVersion, "3");
}

TEST(TagLines, SearchIsCaseSensitiveButRemovalIgnoresCase) {
    EXPECT_EQ(parseTagLines("Id=X").modelId, "");
    EXPECT_EQ(parseTagLines("id=A id=B").modelId, "A B");
    EXPECT_EQ(parseTagLines("id=XID=Y").modelId, "XY");
    EXPECT_EQ(parseTagLines("  id=  spaced  ").modelId, "    spaced  "); // no trimming
    // The tag may stand anywhere in the line; the rest of the line is kept.
    EXPECT_EQ(parseTagLines("model id=7").modelId, "model 7");
}

TEST(TagLines, OneLineCanSetSeveralValues) {
    TagValues v = parseTagLines("id=1ISPVer=2");
    // Each value is the line with only its own tag removed.
    EXPECT_EQ(v.modelId, "1ISPVer=2");
    EXPECT_EQ(v.hardwareVersion, "id=12");
    // A data line holding "id=" sets the model too.
    TagValues w = parseTagLines("data=id=00");
    EXPECT_EQ(w.data, "id=00");
    EXPECT_EQ(w.modelId, "data=00");
}

TEST(TagLines, OnlyCrLfSplitsLines) {
    TagValues bareLf = parseTagLines("id=A\nISPVer=B");
    EXPECT_EQ(bareLf.modelId, "A\nISPVer=B");
    EXPECT_EQ(bareLf.hardwareVersion, "id=A\nB");
    EXPECT_EQ(parseTagLines("id=A\r").modelId, "A\r");
    EXPECT_EQ(parseTagLines("id=A\r\r\nid=B\n\r").modelId, "B\n\r");
}

TEST(TagLines, TagsAreFoundOnlyAtGbkCharacterStarts) {
    // 0xB0 0x69 is one two-byte character whose second byte looks like 'i'.
    EXPECT_EQ(parseTagLines("\xB0" "id=X").modelId, "");
    std::string model = gbk("机型") + "id=" + gbk("甲");
    EXPECT_EQ(parseTagLines(model).modelId, gbk("机型甲"));
    // A removal must not cut a two-byte character: "\xB0" "id=" stays whole
    // while the real tag after it goes.
    EXPECT_EQ(parseTagLines("id=\xB0" "id=").modelId, "\xB0" "id=");
}

TEST(HexImage, PairsHighNibbleFirstInEitherCase) {
    EXPECT_EQ(hexToImage("0a1B2"), (Bytes{0x0A, 0x1B}));
    EXPECT_EQ(hexToImage("00FFff7f80"), (Bytes{0x00, 0xFF, 0xFF, 0x7F, 0x80}));
    EXPECT_EQ(hexToImage("7"), Bytes{});
    EXPECT_EQ(hexToImage(""), Bytes{});
}

TEST(HexImage, AnythingButHexDigitsIsNoImage) {
    for (std::string_view bad : {"0g", "0 1", "G", "0a1B2z", "0x00", "\xB0\xA1", "0-", "ab\r"})
        EXPECT_FALSE(hexToImage(bad).has_value()) << bad;
}

TEST(HexImage, ABadCharacterAnywhereInALongValueIsNoImage) {
    // Long values are decoded many characters at once; the neighbours of
    // the digit ranges and bytes of 0x80 or more must fail at every place.
    const std::string good = "0123456789abcdefABCDEF0123456789aBcDeF01234";
    ASSERT_TRUE(hexToImage(good).has_value());
    for (char bad : {'/', ':', '@', 'G', '`', 'g', ' ', '\0', '\x80', '\xB0', '\xC1', '\xE6', '\xFF'})
        for (std::size_t at = 0; at < good.size(); ++at) {
            std::string value = good;
            value[at] = bad;
            EXPECT_FALSE(hexToImage(value).has_value()) << "byte " << int(static_cast<unsigned char>(bad)) << " at " << at;
        }
}

TEST(HexImage, RoundTripsEveryByte) {
    Bytes all(256);
    for (std::size_t k = 0; k < all.size(); ++k) all[k] = static_cast<std::uint8_t>(k);
    std::string hex = imageToHex(all);
    EXPECT_EQ(hex.size(), 512u);
    EXPECT_EQ(hex.substr(0, 6), "000102");
    EXPECT_EQ(hex.substr(508), "FEFF");
    EXPECT_EQ(hexToImage(hex), all);
}

} // namespace
} // namespace mub
