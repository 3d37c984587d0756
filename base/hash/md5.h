// MD5 message digest (RFC 1321). Used for name hashes, never for security.
#ifndef BASE_HASH_MD5_H_
#define BASE_HASH_MD5_H_

#include <stdint.h>

#include "base/strings/string_piece.h"

namespace base {

struct Md5Digest {
  uint8_t a[16];
};

struct Md5Context {
  uint32_t state[4];
  uint32_t bit_count[2];  // low word, then high word
  uint8_t buffer[64];
};

// Starts a context with the initial state and a zero bit count.
void Md5Init(Md5Context* context);

// Adds bytes to the message.
void Md5Update(Md5Context* context, StringPiece data);

// Writes the digest and wipes the context; Md5Init must run before reuse.
void Md5Final(Md5Digest* digest, Md5Context* context);

}  // namespace base

#endif  // BASE_HASH_MD5_H_
