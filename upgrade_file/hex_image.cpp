#include "upgrade_file/hex_image.h"

#include <array>

namespace mub {
namespace {

// 0..15 for each hexadecimal digit, 0xFF for every other byte.
constexpr std::array<std::uint8_t, 256> kDigitValues = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(0xFF);
    for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<std::uint8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<std::uint8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<std::uint8_t>(c - 'a' + 10);
    return table;
}();

std::uint8_t digitValue(char c) { return kDigitValues[static_cast<unsigned char>(c)]; }

} // namespace

std::optional<Bytes> hexToImage(std::string_view hexText) {
    Bytes image(hexText.size() / 2);
    std::uint8_t invalid = 0; // collects the 0xF0 bits that only non-digits carry
    for (std::size_t k = 0; k < image.size(); ++k) {
        std::uint8_t high = digitValue(hexText[2 * k]);
        std::uint8_t low = digitValue(hexText[2 * k + 1]);
        invalid |= static_cast<std::uint8_t>(high | low);
        image[k] = static_cast<std::uint8_t>(high << 4 | (low & 0x0F));
    }
    if (hexText.size() % 2) invalid |= digitValue(hexText.back());
    if (invalid & 0xF0) return std::nullopt;
    return image;
}

std::string imageToHex(std::span<const std::uint8_t> image) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(image.size() * 2, '\0');
    for (std::size_t k = 0; k < image.size(); ++k) {
        text[2 * k] = kDigits[image[k] >> 4];
        text[2 * k + 1] = kDigits[image[k] & 0x0F];
    }
    return text;
}

} // namespace mub
