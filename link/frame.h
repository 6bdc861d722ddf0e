// Frame rules of the wire protocol: 01 A5, a length byte, the payload, and
// the 16-bit byte sum of the payload (high byte first).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mub {

using Bytes = std::vector<std::uint8_t>;

// Sum of the bytes modulo 65536; 0 for no bytes.
std::uint32_t checksum16(const std::uint8_t* data, std::size_t size);
inline std::uint32_t checksum16(const Bytes& data) { return checksum16(data.data(), data.size()); }

// 0x01 0xA5, the low byte of the payload length, the payload, the checksum
// high and low byte. A payload longer than 255 bytes keeps only the low byte
// of its length, so such a frame never passes checkFrame.
Bytes buildFrame(const Bytes& payload);
Bytes buildFrame(std::string_view payload);

// The payload of a valid frame; nothing when the reply is not exactly one
// valid frame (wrong header, length byte not matching the reply length, or
// wrong checksum).
std::optional<Bytes> checkFrame(const Bytes& reply);

// A payload read as text: its bytes up to the first zero byte (GBK).
std::string payloadText(const Bytes& payload);

// The bytes of a text, for sending.
inline Bytes toBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

} // namespace mub
