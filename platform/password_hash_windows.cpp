#include "platform/password_hash.h"

#include <windows.h>
#include <bcrypt.h>

namespace mub {

bool pbkdf2Sha256(const std::string& password, const std::string& salt, int rounds, unsigned char (&key)[32]) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) != 0)
        return false;
    const NTSTATUS status = BCryptDeriveKeyPBKDF2(
        algorithm, reinterpret_cast<PUCHAR>(const_cast<char*>(password.data())), static_cast<ULONG>(password.size()),
        reinterpret_cast<PUCHAR>(const_cast<char*>(salt.data())), static_cast<ULONG>(salt.size()),
        static_cast<ULONGLONG>(rounds), key, sizeof key, 0);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return status == 0;
}

} // namespace mub
