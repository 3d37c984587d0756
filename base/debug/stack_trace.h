// Capture of the calling thread's return addresses, kept for crash dumps.
#ifndef BASE_DEBUG_STACK_TRACE_H_
#define BASE_DEBUG_STACK_TRACE_H_

#include <stddef.h>
#include <stdint.h>

namespace base {

struct StackTrace {
  static const size_t kMaxFrames = 62;
  const void* frames[kMaxFrames];
  uint16_t count;  // filled entries of |frames|
};

// Captures up to min(|wanted|, 62) return addresses, innermost first.
void CaptureStackTrace(StackTrace* trace, size_t wanted);

}  // namespace base

#endif  // BASE_DEBUG_STACK_TRACE_H_
