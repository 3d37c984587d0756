// A queued task with its posting site, delayed run time, sequence number and nestable
// flag. Tasks are moved, never copied.
#ifndef BASE_MESSAGE_LOOP_PENDING_TASK_H_
#define BASE_MESSAGE_LOOP_PENDING_TASK_H_

#include <stdint.h>

#include <array>
#include <queue>

#include "base/callback.h"
#include "base/location.h"
#include "base/time/time.h"
#include "base/tracked_objects.h"

namespace base {

struct PendingTask {
  PendingTask(const Location& posted_from, Closure task);
  PendingTask(const Location& posted_from, Closure task, TimeTicks delayed_run_time,
              bool nestable);
  PendingTask(PendingTask&& other);
  PendingTask& operator=(PendingTask&& other);
  ~PendingTask();

  // Heap order for the delayed queue: true when this task runs after `other`.
  bool operator<(const PendingTask& other) const;

  // The tracked time the task's queueing counts from: its delayed run time when it has
  // one, else the time it was posted.
  TrackedTime EffectivePostTime() const;

  // Posting-site tally; null unless the task statistics are active.
  Births* birth_tally;
  TrackedTime time_posted;
  // 0 = run as soon as possible.
  TimeTicks delayed_run_time;
  Closure task;
  Location posted_from;
  // The posting site of the task that was running when this one was posted, then the
  // first three entries of that task's own backtrace: a chain for crash dumps.
  std::array<const void*, 4> task_backtrace;
  int sequence_num;
  bool nestable;
  // Set for delays from 1 us up to 31.999 ms.
  bool is_high_res;

  PendingTask(const PendingTask&) = delete;
  PendingTask& operator=(const PendingTask&) = delete;
};

typedef std::queue<PendingTask> TaskQueue;
// The top is the earliest delayed run time, then the smallest sequence number.
typedef std::priority_queue<PendingTask> DelayedTaskQueue;

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_PENDING_TASK_H_
