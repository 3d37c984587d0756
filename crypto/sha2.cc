#include "crypto/sha2.h"

#include <stdint.h>

#include <memory>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "crypto/secure_hash.h"

namespace crypto {

std::string ComputeSha256Hex(const void* data, size_t length) {
  std::unique_ptr<SecureHash> hash = SecureHash::Create(SecureHash::SHA256);
  hash->Update(data, length);
  uint8_t digest[kSha256Length];
  hash->Finish(digest, sizeof(digest));

  return base::ToLowerASCII(base::HexEncode(digest, sizeof(digest)));
}

}  // namespace crypto
