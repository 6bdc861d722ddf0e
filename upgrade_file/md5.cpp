#include "upgrade_file/md5.h"

#include <algorithm>
#include <cstring>

namespace mub {
namespace {

constexpr std::array<std::uint32_t, 4> kInitialState = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

std::uint32_t rotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The four round functions, in forms with few operations after b, the value
// the step before has just computed.
std::uint32_t roundF(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return d ^ (b & (c ^ d)); }
std::uint32_t roundG(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return (c & ~d) + (b & d); }
std::uint32_t roundH(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return b ^ c ^ d; }
std::uint32_t roundI(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return c ^ (b | ~d); }

// One of the 64 steps: a = b + ((a + word + sine + f(b, c, d)) <<< shift),
// the round function added last since it waits for b.
template <std::uint32_t (*F)(std::uint32_t, std::uint32_t, std::uint32_t)>
void step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t word,
          std::uint32_t sine, int shift) {
    a = b + rotateLeft(a + word + sine + F(b, c, d), shift);
}

} // namespace

Md5::Md5() : state_(kInitialState) {}

void Md5::transform(const std::uint8_t* block) {
    std::uint32_t words[16];
    for (int k = 0; k < 16; ++k)
        words[k] = static_cast<std::uint32_t>(block[4 * k]) | static_cast<std::uint32_t>(block[4 * k + 1]) << 8 |
                   static_cast<std::uint32_t>(block[4 * k + 2]) << 16 |
                   static_cast<std::uint32_t>(block[4 * k + 3]) << 24;
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    // The 64 steps written out (as in RFC 1321): with word indices, sines and
    // shifts as constants, all of it stays in registers.
    const std::uint32_t* x = words;
    step<roundF>(a, b, c, d, x[0], 0xd76aa478, 7);
    step<roundF>(d, a, b, c, x[1], 0xe8c7b756, 12);
    step<roundF>(c, d, a, b, x[2], 0x242070db, 17);
    step<roundF>(b, c, d, a, x[3], 0xc1bdceee, 22);
    step<roundF>(a, b, c, d, x[4], 0xf57c0faf, 7);
    step<roundF>(d, a, b, c, x[5], 0x4787c62a, 12);
    step<roundF>(c, d, a, b, x[6], 0xa8304613, 17);
    step<roundF>(b, c, d, a, x[7], 0xfd469501, 22);
    step<roundF>(a, b, c, d, x[8], 0x698098d8, 7);
    step<roundF>(d, a, b, c, x[9], 0x8b44f7af, 12);
    step<roundF>(c, d, a, b, x[10], 0xffff5bb1, 17);
    step<roundF>(b, c, d, a, x[11], 0x895cd7be, 22);
    step<roundF>(a, b, c, d, x[12], 0x6b901122, 7);
    step<roundF>(d, a, b, c, x[13], 0xfd987193, 12);
    step<roundF>(c, d, a, b, x[14], 0xa679438e, 17);
    step<roundF>(b, c, d, a, x[15], 0x49b40821, 22);

    step<roundG>(a, b, c, d, x[1], 0xf61e2562, 5);
    step<roundG>(d, a, b, c, x[6], 0xc040b340, 9);
    step<roundG>(c, d, a, b, x[11], 0x265e5a51, 14);
    step<roundG>(b, c, d, a, x[0], 0xe9b6c7aa, 20);
    step<roundG>(a, b, c, d, x[5], 0xd62f105d, 5);
    step<roundG>(d, a, b, c, x[10], 0x02441453, 9);
    step<roundG>(c, d, a, b, x[15], 0xd8a1e681, 14);
    step<roundG>(b, c, d, a, x[4], 0xe7d3fbc8, 20);
    step<roundG>(a, b, c, d, x[9], 0x21e1cde6, 5);
    step<roundG>(d, a, b, c, x[14], 0xc33707d6, 9);
    step<roundG>(c, d, a, b, x[3], 0xf4d50d87, 14);
    step<roundG>(b, c, d, a, x[8], 0x455a14ed, 20);
    step<roundG>(a, b, c, d, x[13], 0xa9e3e905, 5);
    step<roundG>(d, a, b, c, x[2], 0xfcefa3f8, 9);
    step<roundG>(c, d, a, b, x[7], 0x676f02d9, 14);
    step<roundG>(b, c, d, a, x[12], 0x8d2a4c8a, 20);

    step<roundH>(a, b, c, d, x[5], 0xfffa3942, 4);
    step<roundH>(d, a, b, c, x[8], 0x8771f681, 11);
    step<roundH>(c, d, a, b, x[11], 0x6d9d6122, 16);
    step<roundH>(b, c, d, a, x[14], 0xfde5380c, 23);
    step<roundH>(a, b, c, d, x[1], 0xa4beea44, 4);
    step<roundH>(d, a, b, c, x[4], 0x4bdecfa9, 11);
    step<roundH>(c, d, a, b, x[7], 0xf6bb4b60, 16);
    step<roundH>(b, c, d, a, x[10], 0xbebfbc70, 23);
    step<roundH>(a, b, c, d, x[13], 0x289b7ec6, 4);
    step<roundH>(d, a, b, c, x[0], 0xeaa127fa, 11);
    step<roundH>(c, d, a, b, x[3], 0xd4ef3085, 16);
    step<roundH>(b, c, d, a, x[6], 0x04881d05, 23);
    step<roundH>(a, b, c, d, x[9], 0xd9d4d039, 4);
    step<roundH>(d, a, b, c, x[12], 0xe6db99e5, 11);
    step<roundH>(c, d, a, b, x[15], 0x1fa27cf8, 16);
    step<roundH>(b, c, d, a, x[2], 0xc4ac5665, 23);

    step<roundI>(a, b, c, d, x[0], 0xf4292244, 6);
    step<roundI>(d, a, b, c, x[7], 0x432aff97, 10);
    step<roundI>(c, d, a, b, x[14], 0xab9423a7, 15);
    step<roundI>(b, c, d, a, x[5], 0xfc93a039, 21);
    step<roundI>(a, b, c, d, x[12], 0x655b59c3, 6);
    step<roundI>(d, a, b, c, x[3], 0x8f0ccc92, 10);
    step<roundI>(c, d, a, b, x[10], 0xffeff47d, 15);
    step<roundI>(b, c, d, a, x[1], 0x85845dd1, 21);
    step<roundI>(a, b, c, d, x[8], 0x6fa87e4f, 6);
    step<roundI>(d, a, b, c, x[15], 0xfe2ce6e0, 10);
    step<roundI>(c, d, a, b, x[6], 0xa3014314, 15);
    step<roundI>(b, c, d, a, x[13], 0x4e0811a1, 21);
    step<roundI>(a, b, c, d, x[4], 0xf7537e82, 6);
    step<roundI>(d, a, b, c, x[11], 0xbd3af235, 10);
    step<roundI>(c, d, a, b, x[2], 0x2ad7d2bb, 15);
    step<roundI>(b, c, d, a, x[9], 0xeb86d391, 21);

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
