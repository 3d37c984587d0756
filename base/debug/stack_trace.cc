#include "base/debug/stack_trace.h"

#include <windows.h>

namespace base {

void CaptureStackTrace(StackTrace* trace, size_t wanted) {
  const DWORD count = static_cast<DWORD>(wanted < StackTrace::kMaxFrames ? wanted
                                                                        : StackTrace::kMaxFrames);
  trace->count = RtlCaptureStackBackTrace(0, count, const_cast<void**>(trace->frames), nullptr);
}

}  // namespace base
