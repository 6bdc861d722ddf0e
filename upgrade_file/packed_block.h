// The packed block inside the cipher layer: a four-byte magic, the payload's
// declared size (signed 32-bit little-endian) and one zlib stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace mub {

inline constexpr std::array<std::uint8_t, 4> kPackedMagic = {0x0D, 0x0F, 0x3E, 0x03};
inline constexpr std::size_t kPackedHeaderSize = 8;

// The inflated payload. Its buffer is left uninitialised beyond `size`.
struct Payload {
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t size = 0;

    std::span<const std::uint8_t> bytes() const { return {buffer.get(), size}; }
};

// Room the payload may take: twice the declared size, in signed 32-bit
// arithmetic; 0 when that is not a positive number (declared size 0,
// negative, or 2^30 and more).
std::int32_t payloadCapacity(std::int32_t declaredSize);

// Inflates the packed block's zlib stream into a buffer of at most
// payloadCapacity() bytes. A failure gives a payload without buffer: the
// block is shorter than the header, the magic differs, the capacity is not
// positive, no memory can be had, or the stream does not end properly
// (Adler-32 included) within the capacity. Bytes after the end of the stream
// are ignored.
Payload unpackBlock(std::span<const std::uint8_t> block);

} // namespace mub
