#include "base/message_loop/pending_task.h"

#include <utility>

#include "base/message_loop/message_loop.h"

namespace base {

namespace {

Births* TallyABirthIfActive(const Location& posted_from) {
  if (!TrackedThreadData::IsActive())
    return nullptr;
  TrackedThreadData* thread_data = TrackedThreadData::Get();
  return thread_data ? thread_data->TallyABirth(posted_from) : nullptr;
}

}  // namespace

PendingTask::PendingTask(const Location& posted_from, Closure task)
    : PendingTask(posted_from, std::move(task), TimeTicks(), true) {}

PendingTask::PendingTask(const Location& posted_from, Closure task,
                         TimeTicks delayed_run_time, bool nestable)
    : birth_tally(TallyABirthIfActive(posted_from)),
      time_posted(TrackedThreadData::Now()),
      delayed_run_time(delayed_run_time),
      task(std::move(task)),
      posted_from(posted_from),
      task_backtrace(),
      sequence_num(0),
      nestable(nestable),
      is_high_res(false) {
  MessageLoop* loop = MessageLoop::Current();
  const PendingTask* parent = loop ? loop->current_pending_task() : nullptr;
  if (parent) {
    task_backtrace[0] = parent->posted_from.program_counter();
    for (size_t i = 1; i < task_backtrace.size(); ++i)
      task_backtrace[i] = parent->task_backtrace[i - 1];
  }
}

PendingTask::PendingTask(PendingTask&& other) = default;
PendingTask& PendingTask::operator=(PendingTask&& other) = default;
PendingTask::~PendingTask() = default;

bool PendingTask::operator<(const PendingTask& other) const {
  // std::priority_queue keeps the greatest on top, so "less" means "runs later".
  if (delayed_run_time < other.delayed_run_time)
    return false;
  if (delayed_run_time > other.delayed_run_time)
    return true;
  // The signed difference keeps the order across wrap-around of the numbers.
  return static_cast<int32_t>(static_cast<uint32_t>(sequence_num) -
                              static_cast<uint32_t>(other.sequence_num)) > 0;
}

TrackedTime PendingTask::EffectivePostTime() const {
  if (delayed_run_time.is_null())
    return time_posted;
  return static_cast<TrackedTime>((delayed_run_time - TimeTicks()).InMilliseconds());
}

}  // namespace base
