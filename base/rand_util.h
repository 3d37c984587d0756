// Cryptographically strong random numbers from the system generator.
#ifndef BASE_RAND_UTIL_H_
#define BASE_RAND_UTIL_H_

#include <stddef.h>
#include <stdint.h>

namespace base {

// Fills |length| bytes at |output|. A failing system generator ends the process: no
// caller ever receives partial randomness.
void RandBytes(void* output, size_t length);

// A uniformly distributed value over all 64-bit values.
uint64_t RandUint64();

// A uniformly distributed integer in [min, max]; |min| must not be above |max|.
int RandInt(int min, int max);

}  // namespace base

#endif  // BASE_RAND_UTIL_H_
