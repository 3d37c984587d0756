#include "base/debug/stack_trace.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace base {
namespace {

HMODULE ModuleOf(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<const wchar_t*>(address), &module);
  return module;
}

__attribute__((noinline)) void CaptureNested(int depth, StackTrace* trace, size_t wanted) {
  if (depth > 0) {
    CaptureNested(depth - 1, trace, wanted);
    asm volatile("");  // keeps the recursion from becoming a jump
    return;
  }
  CaptureStackTrace(trace, wanted);
}

TEST(StackTraceTest, CapturesAtMostTheWantedFramesFromTheCaller) {
  for (size_t wanted : {size_t{1}, size_t{3}, size_t{62}, size_t{100}}) {
    StackTrace trace = {};
    CaptureNested(70, &trace, wanted);
    EXPECT_EQ(wanted < 62 ? wanted : 62, trace.count) << wanted;
    // The innermost frame is code of this executable, not of the system.
    EXPECT_EQ(GetModuleHandleW(nullptr), ModuleOf(trace.frames[0]));
  }
}

}  // namespace
}  // namespace base
