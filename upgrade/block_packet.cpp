#include "upgrade/block_packet.h"

#include "link/frame.h"

#include <algorithm>

namespace mub {

void fillBlockPacket(const Bytes& image, std::uint32_t blockIndex, std::uint8_t blockNumber, Bytes& packet) {
    packet.assign(BlockPacketSize, 0xFF);
    packet[0] = BlockStart;
    packet[1] = blockNumber;
    packet[2] = static_cast<std::uint8_t>(255 - blockNumber);
    const auto data = packet.begin() + 3;
    const std::size_t offset = std::size_t{blockIndex} * BlockDataSize;
    if (offset < image.size()) {
        const std::size_t count = std::min(BlockDataSize, image.size() - offset);
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), count, data);
    }
    const std::uint32_t sum = checksum16(&*data, BlockDataSize);
    packet[BlockPacketSize - 2] = static_cast<std::uint8_t>(sum / 256);
    packet[BlockPacketSize - 1] = static_cast<std::uint8_t>(sum % 256);
}

Bytes buildBlockPacket(const Bytes& image, std::uint32_t blockIndex, std::uint8_t blockNumber) {
    Bytes packet;
    fillBlockPacket(image, blockIndex, blockNumber, packet);
    return packet;
}

} // namespace mub
