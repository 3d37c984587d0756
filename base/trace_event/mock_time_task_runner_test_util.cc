#include "base/trace_event/mock_time_task_runner_test_util.h"

namespace base {
namespace trace_event {

MockTimeTaskRunner::MockTimeTaskRunner() = default;
MockTimeTaskRunner::~MockTimeTaskRunner() = default;

bool MockTimeTaskRunner::PostDelayedTask(const Location& posted_from, Closure task,
                                         TimeDelta delay) {
  posting_sites_.push_back(posted_from.function_name() ? posted_from.function_name() : "");
  tasks_.emplace(std::make_pair(now_ms_ + delay.InMilliseconds(), next_order_++),
                 std::move(task));
  return true;
}

bool MockTimeTaskRunner::PostNonNestableDelayedTask(const Location& posted_from, Closure task,
                                                    TimeDelta delay) {
  return PostDelayedTask(posted_from, std::move(task), delay);
}

void MockTimeTaskRunner::FastForwardBy(int64_t ms) {
  const int64_t end_ms = now_ms_ + ms;
  while (!tasks_.empty() && tasks_.begin()->first.first <= end_ms) {
    auto first = tasks_.begin();
    if (first->first.first > now_ms_) now_ms_ = first->first.first;
    Closure task = std::move(first->second);
    tasks_.erase(first);
    task.Run();
  }
  now_ms_ = end_ms;
}

}  // namespace trace_event
}  // namespace base
