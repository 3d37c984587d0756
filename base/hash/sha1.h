// SHA-1 message digest (FIPS 180-1), one shot. Used for identifiers, not for security.
#ifndef BASE_HASH_SHA1_H_
#define BASE_HASH_SHA1_H_

#include <stddef.h>
#include <stdint.h>

namespace base {

const size_t kSha1Length = 20;

// Writes the 20-byte digest of |length| bytes at |data| to |digest|.
void Sha1Digest(const uint8_t* data, size_t length, uint8_t* digest);

}  // namespace base

#endif  // BASE_HASH_SHA1_H_
