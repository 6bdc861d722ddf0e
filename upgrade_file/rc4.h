// RC4 stream cipher: the upgrade file is enciphered with it as a whole.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace mub {

class Rc4 {
public:
    // Key scheduling with the key bytes used cyclically. An empty key is
    // treated as a single zero byte.
    explicit Rc4(std::span<const std::uint8_t> key);

    // XORs the next keystream bytes onto `data`, in order. Enciphering and
    // deciphering are the same operation; calls continue the keystream.
    void apply(std::span<std::uint8_t> data);

private:
    // Entries hold 0..255; as whole words they load and store faster than
    // single bytes in the keystream loop.
    std::array<std::uint32_t, 256> state_{};
    std::uint8_t i_ = 0;
    std::uint8_t j_ = 0;
};

} // namespace mub
