#include "upgrade_file/rc4.h"

#include <utility>

namespace mub {

Rc4::Rc4(std::span<const std::uint8_t> key) {
    for (std::size_t k = 0; k < state_.size(); ++k) state_[k] = static_cast<std::uint32_t>(k);
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
    // state_[i + 1] is read one step ahead, before the swap that may change
    // it (only when j lands on i + 1, and then it becomes the swapped-in
    // value). Reading it after the swap would make every step wait for the
    // previous step's stores.
    std::uint32_t next = state_[static_cast<std::uint8_t>(i + 1)];
    for (std::uint8_t& byte : data) {
        i = static_cast<std::uint8_t>(i + 1);
        std::uint32_t si = next;
        j = static_cast<std::uint8_t>(j + si);
        std::uint32_t sj = state_[j];
        auto following = static_cast<std::uint8_t>(i + 1);
        next = state_[following];
        state_[i] = sj;
        state_[j] = si;
        if (j == following) next = si;
        byte = static_cast<std::uint8_t>(byte ^ state_[static_cast<std::uint8_t>(si + sj)]);
    }
    i_ = i;
    j_ = j;
}

} // namespace mub
