#include "crypto/sha2.h"

#include <stdint.h>

#include <memory>

#include "crypto/secure_hash.h"

namespace crypto {

std::string ComputeSha256Hex(const void* data, size_t length) {
  std::unique_ptr<SecureHash> hash = SecureHash::Create(SecureHash::SHA256);
  hash->Update(data, length);
  uint8_t digest[kSha256Length];
  hash->Finish(digest, sizeof(digest));

  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * sizeof(digest));
  for (uint8_t byte : digest) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0xF]);
  }
  return hex;
}

}  // namespace crypto
