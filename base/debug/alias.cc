#include "base/debug/alias.h"

namespace base {
namespace debug {

// Out of line and opaque to the optimizer: the compiler must assume the address
// escapes, so the value is really stored in the caller's frame.
__attribute__((noinline)) void AliasForCrashDump(const void* address) {
  __asm__ __volatile__("" : : "r"(address) : "memory");
}

}  // namespace debug
}  // namespace base
