// The bytes of the wire protocol with the machine, and the size of an image
// block: the tool, the simulated machine and the tests take them from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mub {

// A frame: the two header bytes, a length byte, the payload, the 16-bit
// byte sum of the payload (high byte, then low byte).
inline constexpr std::uint8_t FrameHeader1 = 0x01;
inline constexpr std::uint8_t FrameHeader2 = 0xA5;
inline constexpr std::size_t FrameOverhead = 5;

// Identification. The probe and the confirmation are answered with the
// company mark; the three requests with a frame each. During the upgrade
// the machine sends the same three letters to ask for the file's texts.
inline constexpr std::uint8_t LinkProbe = 0x7F;
inline constexpr std::uint8_t RequestModel = 'M';
inline constexpr std::uint8_t RequestHardware = 'P';
inline constexpr std::uint8_t RequestSoftware = 'F';

// The upgrade exchange.
inline constexpr std::uint8_t BeginUpdate = 0x5E;        // tool: the transfer begins
inline constexpr std::uint8_t ReadyForBlocks = 'C';      // machine: send the blocks
inline constexpr std::uint8_t BlockAccepted = 0x06;      // machine: the last block was taken
inline constexpr std::uint8_t BlockRejected = 0x15;      // machine: send the last block again
inline constexpr std::uint8_t BlockChecksumFailed = 0x04; // machine: gives up, checksum error
// Either side gives up with this byte: the tool declines the upgrade or ends
// a model check; the machine finds the image larger than its chip.
inline constexpr std::uint8_t Cancel = 0x18;

// A block packet: the start byte, the block number and its complement, the
// block's image bytes, their 16-bit sum (high, low).
inline constexpr std::uint8_t BlockStart = 0x01;
inline constexpr std::size_t BlockDataSize = 128;
inline constexpr std::size_t BlockPacketSize = BlockDataSize + 5;

// After the last block: the integer 4, four bytes little-endian.
inline const std::vector<std::uint8_t> EndOfImage{0x04, 0x00, 0x00, 0x00};

// Blocks that carry an image of `bytes` bytes (the last one filled up).
inline constexpr std::size_t blocksFor(std::size_t bytes) { return (bytes + BlockDataSize - 1) / BlockDataSize; }

} // namespace mub
