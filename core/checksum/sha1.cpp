// SHA-1 by OpenSSL.
#include "core/checksum/sha1.h"

#include <openssl/evp.h>

namespace chipsight {

std::array<std::uint8_t, 20> sha1Of(std::span<const std::uint8_t> bytes) {
    std::array<std::uint8_t, 20> digest{};
    unsigned length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha1(), nullptr);
    return digest;
}

}  // namespace chipsight
