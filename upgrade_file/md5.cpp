#include "upgrade_file/md5.h"

#include <algorithm>
#include <cstring>

namespace mub {
namespace {

constexpr std::array<std::uint32_t, 64> kSines = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr std::array<int, 64> kShifts = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21,
};

constexpr std::array<std::uint32_t, 4> kInitialState = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

std::uint32_t rotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

} // namespace

Md5::Md5() : state_(kInitialState) {}

void Md5::transform(const std::uint8_t* block) {
    std::uint32_t words[16];
    for (int k = 0; k < 16; ++k)
        words[k] = static_cast<std::uint32_t>(block[4 * k]) | static_cast<std::uint32_t>(block[4 * k + 1]) << 8 |
                   static_cast<std::uint32_t>(block[4 * k + 2]) << 16 |
                   static_cast<std::uint32_t>(block[4 * k + 3]) << 24;
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int k = 0; k < 64; ++k) {
        std::uint32_t f;
        int g;
        if (k < 16) {
            f = (b & c) | (~b & d);
            g = k;
        } else if (k < 32) {
            f = (d & b) | (~d & c);
            g = (5 * k + 1) % 16;
        } else if (k < 48) {
            f = b ^ c ^ d;
            g = (3 * k + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * k) % 16;
        }
        std::uint32_t next = b + rotateLeft(a + f + kSines[k] + words[g], kShifts[k]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5::update(std::span<const std::uint8_t> data) {
    std::size_t used = static_cast<std::size_t>(length_ % 64);
    length_ += data.size();
    std::size_t pos = 0;
    if (used > 0) {
        std::size_t take = std::min(data.size(), 64 - used);
        std::memcpy(buffer_.data() + used, data.data(), take);
        pos = take;
        if (used + take < 64) return;
        transform(buffer_.data());
    }
    for (; data.size() - pos >= 64; pos += 64) transform(data.data() + pos);
    if (pos < data.size()) std::memcpy(buffer_.data(), data.data() + pos, data.size() - pos);
}

void Md5::update(std::string_view text) {
    update(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

Md5Digest Md5::finish() {
    std::uint64_t bitLength = length_ * 8;
    std::uint8_t padding[72] = {0x80};
    std::size_t used = static_cast<std::size_t>(length_ % 64);
    std::size_t padLength = used < 56 ? 56 - used : 120 - used;
    for (int k = 0; k < 8; ++k) padding[padLength + k] = static_cast<std::uint8_t>(bitLength >> (8 * k));
    update(std::span<const std::uint8_t>(padding, padLength + 8));

    Md5Digest digest;
    for (int k = 0; k < 4; ++k)
        for (int b = 0; b < 4; ++b) digest[4 * k + b] = static_cast<std::uint8_t>(state_[k] >> (8 * b));
    *this = Md5();
    return digest;
}

std::string digestToLowerHex(const Md5Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (std::uint8_t byte : digest) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

std::string md5Hex(std::span<const std::uint8_t> data) {
    Md5 md5;
    md5.update(data);
    return digestToLowerHex(md5.finish());
}

std::string md5Hex(std::string_view text) {
    Md5 md5;
    md5.update(text);
    return digestToLowerHex(md5.finish());
}

} // namespace mub
