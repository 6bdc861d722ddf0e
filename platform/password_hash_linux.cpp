#include "platform/password_hash.h"

#include <openssl/evp.h>

namespace mub {

bool pbkdf2Sha256(const std::string& password, const std::string& salt, int rounds, unsigned char (&key)[32]) {
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                             reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                             rounds, EVP_sha256(), sizeof key, key) == 1;
}

} // namespace mub
