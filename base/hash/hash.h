// A fast 32-bit hash of a byte string (SuperFastHash). Not for security or storage.
#ifndef BASE_HASH_HASH_H_
#define BASE_HASH_HASH_H_

#include <stdint.h>

namespace base {

// Null data or a length below 1 gives 0.
uint32_t HashBytes(const void* data, int32_t length);

}  // namespace base

#endif  // BASE_HASH_HASH_H_
