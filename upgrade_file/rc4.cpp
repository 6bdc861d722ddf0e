#include "upgrade_file/rc4.h"

#include <utility>

namespace mub {

Rc4::Rc4(std::span<const std::uint8_t> key) {
    for (std::size_t k = 0; k < state_.size(); ++k) state_[k] = static_cast<std::uint8_t>(k);
    std::uint8_t j = 0;
    for (std::size_t k = 0; k < state_.size(); ++k) {
        std::uint8_t keyByte = key.empty() ? 0 : key[k % key.size()];
        j = static_cast<std::uint8_t>(j + state_[k] + keyByte);
        std::swap(state_[k], state_[j]);
    }
}

void Rc4::apply(std::span<std::uint8_t> data) {
    std::uint8_t i = i_;
    std::uint8_t j = j_;
    for (std::uint8_t& byte : data) {
        i = static_cast<std::uint8_t>(i + 1);
        j = static_cast<std::uint8_t>(j + state_[i]);
        std::swap(state_[i], state_[j]);
        byte ^= state_[static_cast<std::uint8_t>(state_[i] + state_[j])];
    }
    i_ = i;
    j_ = j;
}

} // namespace mub
