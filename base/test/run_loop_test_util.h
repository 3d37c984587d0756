// Runs a RunLoop with a generous time limit, so that a lost quit fails a test instead of
// hanging it.
#ifndef BASE_TEST_RUN_LOOP_TEST_UTIL_H_
#define BASE_TEST_RUN_LOOP_TEST_UTIL_H_

#include "base/run_loop.h"
#include "base/time/time.h"

namespace base {

// Runs |run_loop| on the current thread's message loop until it quits or |limit| passed;
// false when the limit ended it.
[[nodiscard]] bool RunUntilQuitOrLimit(RunLoop* run_loop, TimeDelta limit);

}  // namespace base

#endif  // BASE_TEST_RUN_LOOP_TEST_UTIL_H_
