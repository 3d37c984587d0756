// Overflow-checked integer arithmetic.
#ifndef BASE_NUMERICS_CHECKED_MATH_H_
#define BASE_NUMERICS_CHECKED_MATH_H_

#include <stdint.h>

namespace base {

// Stores the wrapping product of |a| and |b| in |result| and returns whether the true
// product fits in a signed 64-bit value (-2^63 fits).
[[nodiscard]] inline bool CheckedMultiply(int64_t a, int64_t b, int64_t* result) {
  return !__builtin_mul_overflow(a, b, result);
}

}  // namespace base

#endif  // BASE_NUMERICS_CHECKED_MATH_H_
