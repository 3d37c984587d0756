// Keeps a local value alive in the caller's stack frame so that a crash dump taken at
// a following fatal stop shows it.
#ifndef BASE_DEBUG_ALIAS_H_
#define BASE_DEBUG_ALIAS_H_

namespace base {
namespace debug {

void AliasForCrashDump(const void* address);

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_ALIAS_H_
