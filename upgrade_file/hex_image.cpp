#include "upgrade_file/hex_image.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// Sixteen characters into eight bytes at once. False when one of them is no
// hexadecimal digit.
constexpr std::size_t kBlockBytes = 8;
bool decodeBlock(const char* text, std::uint8_t* out) {
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    // Signed comparisons: a byte of 0x80 or more is negative and in no range.
    __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1)));
    __m128i lower = _mm_or_si128(c, _mm_set1_epi8(0x20));
    __m128i letter =
        _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(lower, _mm_set1_epi8('f' + 1)));
    if (_mm_movemask_epi8(_mm_or_si128(digit, letter)) != 0xFFFF) return false;
    // Low four bits of each character, plus 9 for a letter ('A' and 'a' end in 1).
    __m128i nibbles = _mm_add_epi8(_mm_and_si128(c, _mm_set1_epi8(0x0F)), _mm_and_si128(letter, _mm_set1_epi8(9)));
    // In each 16-bit lane the first character is the low byte: it gives the
    // high four bits of the image byte.
    __m128i high = _mm_slli_epi16(_mm_and_si128(nibbles, _mm_set1_epi16(0x00FF)), 4);
    __m128i bytes = _mm_or_si128(high, _mm_srli_epi16(nibbles, 8));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(bytes, bytes));
    return true;
}
#else
constexpr std::size_t kBlockBytes = 0; // byte by byte only
bool decodeBlock(const char*, std::uint8_t*) { return false; }
#endif

} // namespace

std::optional<Bytes> hexToImage(std::string_view hexText) {
    Bytes image(hexText.size() / 2);
    const char* text = hexText.data();
    std::uint8_t* out = image.data();
    std::size_t k = 0;
    if constexpr (kBlockBytes > 0) {
        for (; k + kBlockBytes <= image.size(); k += kBlockBytes)
            if (!decodeBlock(text + 2 * k, out + k)) return std::nullopt;
    }
    std::uint8_t invalid = 0; // collects the 0xF0 bits that only non-digits carry
    for (; k < image.size(); ++k) {
        std::uint8_t high = digitValue(text[2 * k]);
        std::uint8_t low = digitValue(text[2 * k + 1]);
        invalid |= static_cast<std::uint8_t>(high | low);
        out[k] = static_cast<std::uint8_t>(high << 4 | (low & 0x0F));
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
