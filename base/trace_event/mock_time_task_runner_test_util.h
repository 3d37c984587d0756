// A task runner on a clock of its own: delayed tasks run when the test moves the clock
// past their due time, in due order (posting order among equals), on the test's thread.
//
//   scoped_refptr<MockTimeTaskRunner> runner = MakeRefCounted<MockTimeTaskRunner>();
//   runner->PostDelayedTask(FROM_HERE, task, TimeDelta::FromMilliseconds(250));
//   runner->FastForwardBy(250);   // runs it
#ifndef BASE_TRACE_EVENT_MOCK_TIME_TASK_RUNNER_TEST_UTIL_H_
#define BASE_TRACE_EVENT_MOCK_TIME_TASK_RUNNER_TEST_UTIL_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/sequenced_task_runner.h"

namespace base {
namespace trace_event {

class MockTimeTaskRunner : public SequencedTaskRunner {
 public:
  MockTimeTaskRunner();

  bool PostDelayedTask(const Location& posted_from, Closure task, TimeDelta delay) override;
  bool PostNonNestableDelayedTask(const Location& posted_from, Closure task,
                                  TimeDelta delay) override;
  bool RunsTasksOnCurrentThread() const override { return true; }

  // Moves the clock |ms| forward, running every task that falls due on the way. Tasks
  // posted meanwhile run too when they fall due before the end.
  void FastForwardBy(int64_t ms);
  // Runs the tasks due now.
  void RunUntilIdle() { FastForwardBy(0); }

  int64_t now_ms() const { return now_ms_; }
  size_t pending_task_count() const { return tasks_.size(); }
  // The function name of every posting site, in posting order.
  const std::vector<std::string>& posting_sites() const { return posting_sites_; }

 private:
  ~MockTimeTaskRunner() override;

  // (due time in ms, posting order) -> task.
  std::map<std::pair<int64_t, uint64_t>, Closure> tasks_;
  int64_t now_ms_ = 0;
  uint64_t next_order_ = 0;
  std::vector<std::string> posting_sites_;
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MOCK_TIME_TASK_RUNNER_TEST_UTIL_H_
