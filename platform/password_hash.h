// Passwords kept as salted hashes: PBKDF2 with HMAC-SHA-256, by the
// system's own cryptography (OpenSSL's libcrypto on Linux, CNG's bcrypt on
// Windows). The password itself is never stored.
#pragma once

#include <string>

namespace mub {

inline constexpr int passwordHashRounds = 100000;

// The hash of `password` with `saltHex` (lowercase hex) after `rounds`, as
// 64 lowercase hex digits; empty when the system's cryptography failed.
std::string passwordHash(const std::string& password, const std::string& saltHex, int rounds = passwordHashRounds);

// 16 random bytes as 32 lowercase hex digits, for a new salt.
std::string newPasswordSalt();

// The system's part (password_hash_linux.cpp, password_hash_windows.cpp):
// the 32-byte key; false when the system's cryptography failed.
bool pbkdf2Sha256(const std::string& password, const std::string& salt, int rounds, unsigned char (&key)[32]);

// Equal texts, compared in a time that does not depend on where they differ.
bool sameSecret(const std::string& a, const std::string& b);

} // namespace mub
