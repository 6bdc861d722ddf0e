#include "upgrade/block_packet.h"

#include "link/frame.h"

#include <algorithm>

namespace mub {

Bytes buildBlockPacket(const Bytes& image, std::uint32_t blockIndex, std::uint8_t blockNumber) {
    Bytes data(BlockDataSize, 0xFF);
    const std::size_t offset = std::size_t{blockIndex} * BlockDataSize;
    if (offset < image.size()) {
        const std::size_t count = std::min(BlockDataSize, image.size() - offset);
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), count, data.begin());
    }
    const auto sum = checksum16(data);

    Bytes packet;
    packet.reserve(BlockPacketSize);
    packet.push_back(BlockStart);
    packet.push_back(blockNumber);
    packet.push_back(static_cast<std::uint8_t>(255 - blockNumber));
    packet.insert(packet.end(), data.begin(), data.end());
    packet.push_back(static_cast<std::uint8_t>(sum / 256));
    packet.push_back(static_cast<std::uint8_t>(sum % 256));
    return packet;
}

} // namespace mub
