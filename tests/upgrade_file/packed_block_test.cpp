#include "upgrade_file/packed_block.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <string>
#include <vector>

namespace mub {
namespace {

using Block = std::vector<std::uint8_t>;

Block zlibStream(const std::string& payload) {
    uLongf size = compressBound(static_cast<uLong>(payload.size()));
    Block out(size);
    EXPECT_EQ(compress2(out.data(), &size, reinterpret_cast<const Bytef*>(payload.data()),
                        static_cast<uLong>(payload.size()), 9),
              Z_OK);
    out.resize(size);
    return out;
}

Block packedBlock(std::int32_t declared, const Block& stream) {
    Block block(kPackedMagic.begin(), kPackedMagic.end());
    auto bits = static_cast<std::uint32_t>(declared);
    for (int k = 0; k < 4; ++k) block.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
    block.insert(block.end(), stream.begin(), stream.end());
    return block;
}

Block packedBlock(const std::string& payload, std::int32_t declared) {
    return packedBlock(declared, zlibStream(payload));
}

std::string asString(const Payload& p) { return {reinterpret_cast<const char*>(p.buffer.get()), p.size}; }

TEST(PayloadCapacity, TwiceTheDeclaredSizeInSigned32BitArithmetic) {
    EXPECT_EQ(payloadCapacity(1), 2);
    EXPECT_EQ(payloadCapacity(1000), 2000);
    EXPECT_EQ(payloadCapacity((1 << 30) - 1), INT32_MAX - 1);
    EXPECT_EQ(payloadCapacity(0), 0);
    EXPECT_EQ(payloadCapacity(-1), 0);
    EXPECT_EQ(payloadCapacity(INT32_MIN), 0);
    EXPECT_EQ(payloadCapacity(1 << 30), 0); // doubled it wraps to a negative number
    EXPECT_EQ(payloadCapacity(INT32_MAX), 0);
    EXPECT_EQ(payloadCapacity(3 << 29), 0);
}

TEST(UnpackBlock, InflatesWithinTwiceTheDeclaredSize) {
    std::string payload(1000, 'x');
    payload += "tail";
    EXPECT_EQ(asString(unpackBlock(packedBlock(payload, 1004))), payload);
    // Smaller than the payload but within twice it: accepted, the payload is
    // what the stream produced.
    EXPECT_EQ(asString(unpackBlock(packedBlock(payload, 502))), payload);
    // Larger than needed: the payload keeps its real length.
    EXPECT_EQ(unpackBlock(packedBlock(payload, 100000)).size, payload.size());
    // Exactly twice the declared size fits; one byte more does not.
    std::string even(1000, 'y');
    EXPECT_EQ(unpackBlock(packedBlock(even, 500)).size, 1000u);
    EXPECT_EQ(unpackBlock(packedBlock(even + "z", 500)).buffer, nullptr);
    EXPECT_EQ(unpackBlock(packedBlock(payload, 100)).buffer, nullptr);
}

TEST(UnpackBlock, RejectsBadHeaders) {
    std::string payload = "some payload";
    EXPECT_EQ(unpackBlock({}).buffer, nullptr);
    Block block = packedBlock(payload, 12);
    EXPECT_EQ(unpackBlock(std::span(block).first(7)).buffer, nullptr);
    for (std::size_t k = 0; k < 4; ++k) {
        Block wrongMagic = block;
        wrongMagic[k] ^= 0x01;
        EXPECT_EQ(unpackBlock(wrongMagic).buffer, nullptr) << "magic byte " << k;
    }
    for (std::int32_t declared : {0, -1, -12, INT32_MIN, 1 << 30, INT32_MAX})
        EXPECT_EQ(unpackBlock(packedBlock(payload, declared)).buffer, nullptr) << declared;
    // Header only, no stream at all.
    EXPECT_EQ(unpackBlock(std::span(block).first(8)).buffer, nullptr);
}

TEST(UnpackBlock, RequiresAProperStreamEndButIgnoresWhatFollows) {
    std::string payload(300, 'q');
    Block stream = zlibStream(payload);

    Block trailing = stream;
    trailing.insert(trailing.end(), {0xDE, 0xAD, 0xBE, 0xEF, 0x00});
    EXPECT_EQ(asString(unpackBlock(packedBlock(300, trailing))), payload);

    Block truncated(stream.begin(), stream.end() - 1); // Adler-32 cut short
    EXPECT_EQ(unpackBlock(packedBlock(300, truncated)).buffer, nullptr);
    Block halfway(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(stream.size() / 2));
    EXPECT_EQ(unpackBlock(packedBlock(300, halfway)).buffer, nullptr);

    Block badChecksum = stream;
    badChecksum.back() ^= 0x01;
    EXPECT_EQ(unpackBlock(packedBlock(300, badChecksum)).buffer, nullptr);

    Block raw(payload.begin(), payload.end()); // not a zlib stream at all
    EXPECT_EQ(unpackBlock(packedBlock(300, raw)).buffer, nullptr);
}

TEST(UnpackBlock, HugeDeclaredSizeOnATinyStreamStillDecodes) {
    // The largest positive capacity: the result must not depend on whether
    // the whole capacity could be reserved.
    std::string payload = "short";
    Payload p = unpackBlock(packedBlock(payload, (1 << 30) - 1));
    EXPECT_EQ(asString(p), payload);
}

TEST(UnpackBlock, HighlyCompressedStreamNearTheRatioLimit) {
    // Long runs compress about a thousand to one: the stream must still
    // inflate completely into its capacity.
    std::string payload(4 << 20, '\0');
    Block stream = zlibStream(payload);
    // The stream is so short that it, not the capacity, sizes the buffer.
    ASSERT_LT(stream.size() * 1040, payload.size() * 2);
    Payload p = unpackBlock(packedBlock(static_cast<std::int32_t>(payload.size()), stream));
    ASSERT_NE(p.buffer, nullptr);
    EXPECT_EQ(p.size, payload.size());
    // And a declared size one short of half fails as it should.
    EXPECT_EQ(unpackBlock(packedBlock(static_cast<std::int32_t>(payload.size() / 2 - 1), stream)).buffer,
              nullptr);
}

} // namespace
} // namespace mub
