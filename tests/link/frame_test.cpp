#include "link/frame.h"

#include <gtest/gtest.h>

namespace mub {
namespace {

TEST(Checksum16, SumsBytesModulo65536) {
    EXPECT_EQ(checksum16(toBytes("abc")), 0x0126u);
    EXPECT_EQ(checksum16(Bytes{}), 0u);
    EXPECT_EQ(checksum16(Bytes(300, 0xFF)), 76500u % 65536u);
    EXPECT_EQ(checksum16(Bytes(128, 0xFF)), 0x7F80u);
}

TEST(BuildFrame, HeaderLengthPayloadChecksum) {
    EXPECT_EQ(buildFrame(std::string_view("abc")), (Bytes{0x01, 0xA5, 0x03, 0x61, 0x62, 0x63, 0x01, 0x26}));
    EXPECT_EQ(buildFrame(std::string_view("AB12")), (Bytes{0x01, 0xA5, 0x04, 0x41, 0x42, 0x31, 0x32, 0x00, 0xE6}));
    EXPECT_EQ(buildFrame(Bytes{}), (Bytes{0x01, 0xA5, 0x00, 0x00, 0x00}));
}

TEST(BuildFrame, LongPayloadKeepsLowLengthByteAndFailsTheCheck) {
    Bytes frame = buildFrame(Bytes(300, 0xFF));
    ASSERT_EQ(frame.size(), 305u);
    EXPECT_EQ(frame[2], 44);
    EXPECT_FALSE(checkFrame(frame).has_value());
}

TEST(CheckFrame, AcceptsValidFramesAndReturnsPayload) {
    for (std::string_view text : {"", "a", "abc", "\xBB\xFA\xC6\xF7"}) {
        auto payload = checkFrame(buildFrame(text));
        ASSERT_TRUE(payload.has_value()) << text;
        EXPECT_EQ(payloadText(*payload), text);
    }
    auto empty = checkFrame(Bytes{0x01, 0xA5, 0x00, 0x00, 0x00});
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

TEST(CheckFrame, TextEndsAtFirstZeroByte) {
    auto payload = checkFrame(buildFrame(Bytes{'A', 'B', 'C', 0, 0}));
    ASSERT_TRUE(payload.has_value());
    EXPECT_EQ(payload->size(), 5u);
    EXPECT_EQ(payloadText(*payload), "ABC");
    EXPECT_EQ(payloadText(Bytes{0, 'A'}), "");
}

TEST(CheckFrame, RejectsMalformedReplies) {
    const Bytes good = buildFrame(std::string_view("abc"));

    Bytes badHeader = good;
    badHeader[1] = 0xA6;
    EXPECT_FALSE(checkFrame(badHeader));

    Bytes lengthTooLarge = good;
    lengthTooLarge[2] = 4;
    EXPECT_FALSE(checkFrame(lengthTooLarge));

    Bytes swapped = good;
    std::swap(swapped[6], swapped[7]);
    EXPECT_FALSE(checkFrame(swapped));

    Bytes trailing = good;
    trailing.push_back(0x00);
    EXPECT_FALSE(checkFrame(trailing));

    Bytes truncated(good.begin(), good.end() - 1);
    EXPECT_FALSE(checkFrame(truncated));

    Bytes zeroFilledBody{0x01, 0xA5, 0x03, 0x61, 0x00, 0x00, 0x00, 0x00};
    EXPECT_FALSE(checkFrame(zeroFilledBody));

    for (const Bytes& shortReply : {Bytes{}, Bytes{0x01}, Bytes{0x01, 0xA5}, Bytes{0x01, 0xA5, 0x00},
                                     Bytes{0x01, 0xA5, 0x00, 0x00}})
        EXPECT_FALSE(checkFrame(shortReply)) << shortReply.size();
}

} // namespace
} // namespace mub
