#include "platform/password_hash.h"

#include <cstdint>
#include <cstdio>
#include <random>

namespace mub {

std::string newPasswordSalt() {
    std::random_device source;
    std::string hex;
    for (int i = 0; i < 4; ++i) {
        char word[9];
        std::snprintf(word, sizeof word, "%08x", static_cast<unsigned>(source()));
        hex += word;
    }
    return hex;
}

std::string passwordHash(const std::string& password, const std::string& saltHex, int rounds) {
    unsigned char key[32];
    if (!pbkdf2Sha256(password, saltHex, rounds, key)) return {};
    std::string hex;
    for (const unsigned char byte : key) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", byte);
        hex += two;
    }
    return hex;
}

bool sameSecret(const std::string& a, const std::string& b) {
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

} // namespace mub
