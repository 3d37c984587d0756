#include "base/test/run_loop_test_util.h"

#include "base/bind.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"

namespace base {

bool RunUntilQuitOrLimit(RunLoop* run_loop, TimeDelta limit) {
  bool timed_out = false;
  MessageLoop::Current()->task_runner()->PostDelayedTask(
      FROM_HERE,
      Bind(
          [](RunLoop* loop, bool* flag) {
            *flag = true;
            loop->Quit();
          },
          run_loop, &timed_out),
      limit);
  run_loop->Run();
  return !timed_out;
}

}  // namespace base
