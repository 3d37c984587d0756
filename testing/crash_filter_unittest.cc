// Run only by the crash_fails_the_test CTest entry: a crash inside a test must end the
// test EXE with a non-zero code, never pass silently under Wine.
#include <gtest/gtest.h>

namespace {

TEST(CrashFilter, DISABLED_NullWriteEndsTheProcess) {
  volatile int* pointer = nullptr;
  *pointer = 1;
}

}  // namespace
