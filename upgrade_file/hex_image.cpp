#include "upgrade_file/hex_image.h"

namespace mub {
namespace {

// 0..15 for a hexadecimal digit, -1 for anything else.
int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

std::optional<Bytes> hexToImage(std::string_view hexText) {
    for (char c : hexText)
        if (hexDigitValue(c) < 0) return std::nullopt;
    Bytes image(hexText.size() / 2);
    for (std::size_t k = 0; k < image.size(); ++k)
        image[k] = static_cast<std::uint8_t>(hexDigitValue(hexText[2 * k]) << 4 | hexDigitValue(hexText[2 * k + 1]));
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
