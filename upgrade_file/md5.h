// MD5 message digest: seals the body of an upgrade file.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace mub {

using Md5Digest = std::array<std::uint8_t, 16>;

class Md5 {
public:
    Md5();
    void update(std::span<const std::uint8_t> data);
    void update(std::string_view text);
    // Pads, returns the digest and leaves the object ready for a new message.
    Md5Digest finish();

private:
    void transform(const std::uint8_t* block);

    std::array<std::uint32_t, 4> state_{};
    std::array<std::uint8_t, 64> buffer_{};
    std::uint64_t length_ = 0; // bytes seen so far
};

// The digest as 32 lowercase hexadecimal characters, two per byte in order.
std::string md5Hex(std::span<const std::uint8_t> data);
std::string md5Hex(std::string_view text);
std::string digestToLowerHex(const Md5Digest& digest);

} // namespace mub
