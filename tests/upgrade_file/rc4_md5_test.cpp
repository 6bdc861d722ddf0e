#include "upgrade_file/md5.h"
#include "upgrade_file/rc4.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mub {
namespace {

std::vector<std::uint8_t> keystream(const std::vector<std::uint8_t>& key, std::size_t length) {
    std::vector<std::uint8_t> zeros(length, 0);
    Rc4(key).apply(zeros);
    return zeros;
}

std::vector<std::uint8_t> fromHex(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t k = 0; k + 1 < hex.size(); k += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(k, 2), nullptr, 16)));
    return out;
}

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return {bytes.begin() + static_cast<std::ptrdiff_t>(offset), bytes.begin() + static_cast<std::ptrdiff_t>(offset + 16)};
}

// Published keystream vectors (RFC 6229), at several offsets so that both the
// key schedule and the running state are checked.
TEST(Rc4, MatchesPublishedKeystreams) {
    auto stream40 = keystream({0x01, 0x02, 0x03, 0x04, 0x05}, 272);
    EXPECT_EQ(slice(stream40, 0), fromHex("b2396305f03dc027ccc3524a0a1118a8"));
    EXPECT_EQ(slice(stream40, 16), fromHex("6982944f18fc82d589c403a47a0d0919"));
    EXPECT_EQ(slice(stream40, 240), fromHex("28cb1132c96ce286421dcaadb8b69eae"));
    EXPECT_EQ(slice(stream40, 256), fromHex("1cfcf62b03eddb641d77dfcf7f8d8c93"));

    auto stream128 = keystream(fromHex("0102030405060708090a0b0c0d0e0f10"), 16);
    EXPECT_EQ(stream128, fromHex("9ac7cc9a609d1ef7b2932899cde41b97"));
}

TEST(Rc4, ChunkedCallsContinueTheKeystreamAndDecipherRestores) {
    std::vector<std::uint8_t> key = {'k', 'e', 'y'};
    std::vector<std::uint8_t> whole = keystream(key, 300);
    std::vector<std::uint8_t> pieces(300, 0);
    Rc4 cipher(key);
    cipher.apply(std::span(pieces).first(7));
    cipher.apply(std::span(pieces).subspan(7, 200));
    cipher.apply(std::span(pieces).subspan(207));
    EXPECT_EQ(pieces, whole);

    std::vector<std::uint8_t> text(300);
    for (std::size_t k = 0; k < text.size(); ++k) text[k] = static_cast<std::uint8_t>(k * 31);
    std::vector<std::uint8_t> copy = text;
    Rc4(key).apply(copy);
    EXPECT_NE(copy, text);
    Rc4(key).apply(copy);
    EXPECT_EQ(copy, text);
}

// The test suite of RFC 1321.
TEST(Md5, MatchesPublishedSuite) {
    EXPECT_EQ(md5Hex(std::string_view("")), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex(std::string_view("a")), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex(std::string_view("abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex(std::string_view("message digest")), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex(std::string_view("abcdefghijklmnopqrstuvwxyz")), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex(std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Hex(std::string_view("1234567890123456789012345678901234567890"
                                      "1234567890123456789012345678901234567890")),
              "57edf4a22be3c955ac49da2e2107b67a");
    EXPECT_EQ(md5Hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, SplitUpdatesAndPaddingBoundariesGiveTheWholeDigest) {
    // Lengths around the 56- and 64-byte padding boundaries, fed whole and in
    // uneven pieces, must agree; zero bytes count like any other byte.
    std::string message(200, '\0');
    for (std::size_t k = 0; k < message.size(); ++k) message[k] = static_cast<char>(k * 7 % 256);
    for (std::size_t length : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 200u}) {
        std::string_view text(message.data(), length);
        Md5 pieces;
        for (std::size_t pos = 0; pos < length; pos += 13) pieces.update(text.substr(pos, 13));
        EXPECT_EQ(digestToLowerHex(pieces.finish()), md5Hex(text)) << "length " << length;
    }
    EXPECT_NE(md5Hex(std::string_view("a\0b", 3)), md5Hex(std::string_view("a\0c", 3)));

    // finish() leaves the object ready for a new message.
    Md5 reused;
    reused.update(std::string_view("junk"));
    reused.finish();
    reused.update(std::string_view("abc"));
    EXPECT_EQ(digestToLowerHex(reused.finish()), "900150983cd24fb0d6963f7d28e17f72");
}

} // namespace
} // namespace mub
