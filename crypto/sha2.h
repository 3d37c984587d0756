// SHA-256 of a byte range as text.
#ifndef CRYPTO_SHA2_H_
#define CRYPTO_SHA2_H_

#include <stddef.h>

#include <string>

namespace crypto {

static const size_t kSha256Length = 32;

// The SHA-256 digest of |data| as 64 lower-case hexadecimal digits.
std::string ComputeSha256Hex(const void* data, size_t length);

}  // namespace crypto

#endif  // CRYPTO_SHA2_H_
