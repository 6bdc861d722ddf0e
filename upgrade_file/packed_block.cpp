#include "upgrade_file/packed_block.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <zlib.h>

namespace mub {
namespace {

// A deflate stream needs at least two bits (a length and a distance code) for
// every 258 bytes it produces, so no stream of n bytes inflates to more than
// 1032 * n bytes. Sizing the buffer to that bound when it is below the
// capacity gives exactly the same outcome for every stream while keeping a
// short file with a huge declared size from taking gigabytes.
constexpr std::uint64_t kMaxInflateRatio = 1032;
constexpr std::uint64_t kBoundSlack = 1024;

std::size_t bufferSizeFor(std::int32_t capacity, std::size_t streamSize) {
    std::uint64_t bound = static_cast<std::uint64_t>(streamSize) * kMaxInflateRatio + kBoundSlack;
    return static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(capacity), bound));
}

std::int32_t readInt32Le(const std::uint8_t* p) {
    std::uint32_t value = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                          static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    return static_cast<std::int32_t>(value);
}

// One inflate pass to the end of the stream; the produced size, or -1.
long long inflateInto(std::span<const std::uint8_t> stream, std::uint8_t* out, std::size_t outSize) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return -1;
    zs.next_out = out;
    zs.avail_out = static_cast<uInt>(outSize);
    std::size_t consumed = 0;
    int rc = Z_OK;
    // zlib counts input in 32-bit units; a longer stream is fed in pieces.
    while (rc == Z_OK && consumed < stream.size()) {
        std::size_t piece = std::min<std::size_t>(stream.size() - consumed, UINT_MAX);
        zs.next_in = const_cast<Bytef*>(stream.data() + consumed);
        zs.avail_in = static_cast<uInt>(piece);
        rc = inflate(&zs, Z_FINISH);
        consumed += piece - zs.avail_in;
        if (rc == Z_BUF_ERROR && zs.avail_in == 0 && zs.avail_out > 0) rc = Z_OK; // wants more input
    }
    long long produced = rc == Z_STREAM_END ? static_cast<long long>(zs.total_out) : -1;
    inflateEnd(&zs);
    return produced;
}

} // namespace

std::int32_t payloadCapacity(std::int32_t declaredSize) {
    std::int64_t doubled = static_cast<std::int64_t>(declaredSize) * 2;
    if (doubled <= 0 || doubled > INT32_MAX) return 0;
    return static_cast<std::int32_t>(doubled);
}

Payload unpackBlock(std::span<const std::uint8_t> block) {
    if (block.size() < kPackedHeaderSize) return {};
    if (!std::equal(kPackedMagic.begin(), kPackedMagic.end(), block.begin())) return {};
    std::int32_t capacity = payloadCapacity(readInt32Le(block.data() + 4));
    if (capacity <= 0) return {};

    std::span<const std::uint8_t> stream = block.subspan(kPackedHeaderSize);
    std::size_t bufferSize = bufferSizeFor(capacity, stream.size());
    Payload payload;
    payload.buffer.reset(new (std::nothrow) std::uint8_t[bufferSize]);
    if (!payload.buffer) return {};
    long long produced = inflateInto(stream, payload.buffer.get(), bufferSize);
    if (produced < 0) return {};
    payload.size = static_cast<std::size_t>(produced);
    return payload;
}

} // namespace mub
