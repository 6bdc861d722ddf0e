// The 133-byte packet that carries one 128-byte block of the image.
#pragma once

#include "link/protocol.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mub {

using Bytes = std::vector<std::uint8_t>;

// 0x01, blockNumber, its complement, the 128 image bytes from offset
// 128 * blockIndex, and the 16-bit sum of those 128 bytes (high, low). Past
// the end of the image the block is filled with 0xFF, the value of erased
// flash, never with bytes from beyond the image.
Bytes buildBlockPacket(const Bytes& image, std::uint32_t blockIndex, std::uint8_t blockNumber);
// The same into `packet`, whose memory is kept from one block to the next.
void fillBlockPacket(const Bytes& image, std::uint32_t blockIndex, std::uint8_t blockNumber, Bytes& packet);

} // namespace mub
