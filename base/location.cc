#include "base/location.h"

namespace base {

// Never inlined: the return address must be the caller's, not its caller's.
__attribute__((noinline)) const void* GetCallerAddress() {
  return __builtin_extract_return_addr(__builtin_return_address(0));
}

}  // namespace base
