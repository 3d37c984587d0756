#include "base/threading/worker_pool.h"

#include <utility>

#include "base/logging.h"
#include "base/message_loop/pending_task.h"
#include "base/message_loop/scoped_task_run_event.h"
#include "base/threading/post_task_and_reply_impl.h"
#include "base/threading/thread_local_boolean.h"
#include "base/tracked_objects.h"

namespace base {

namespace {

WorkerPool::QueueUserWorkItemFunction g_queue_user_work_item = &::QueueUserWorkItem;

ThreadLocalBoolean* ThreadPoolWorkerFlag() {
  static ThreadLocalBoolean* flag = new ThreadLocalBoolean;
  return flag;
}

DWORD WINAPI WorkItemCallback(void* param) {
  PendingTask* pending_task = static_cast<PendingTask*>(param);
  {
    internal::ScopedTaskRunEvent run_event("WorkerThread::ThreadMain::Run",
                                           pending_task->posted_from);
    ThreadPoolWorkerFlag()->Set(true);
    TaskStopwatch stopwatch;
    stopwatch.Start();
    {
      Closure task = std::move(pending_task->task);
      task.Run();
    }
    stopwatch.Stop();
    ThreadPoolWorkerFlag()->Set(false);

    TrackedThreadData* thread_data = stopwatch.GetThreadData();
    if (pending_task->birth_tally && thread_data) {
      int32_t queue_duration =
          stopwatch.StartTime()
              ? static_cast<int32_t>(stopwatch.StartTime() - pending_task->time_posted)
              : 0;
      thread_data->TallyADeath(*pending_task->birth_tally, queue_duration, stopwatch);
    }
    delete pending_task;
  }
  return 0;
}

// Posts the relay's task as a work item.
class WorkItemPoster : public internal::PostTaskAndReplyImpl {
 public:
  explicit WorkItemPoster(bool task_is_slow) : task_is_slow_(task_is_slow) {}

 private:
  bool PostTask(const Location& from_here, Closure task) override {
    return QueueWorkItem(from_here, std::move(task), task_is_slow_);
  }

  bool task_is_slow_;
};

}  // namespace

bool QueueWorkItem(const Location& from_here, Closure task, bool task_is_slow) {
  CHECK(!task.is_null()) << "posting a null task";
  PendingTask* pending_task = new PendingTask(from_here, std::move(task));
  ULONG flags = task_is_slow ? WT_EXECUTELONGFUNCTION : WT_EXECUTEDEFAULT;
  if (!g_queue_user_work_item(&WorkItemCallback, pending_task, flags)) {
    delete pending_task;
    return false;
  }
  return true;
}

// static
bool WorkerPool::PostTaskAndReply(const Location& from_here, Closure task, Closure reply,
                                  bool task_is_slow) {
  WorkItemPoster poster(task_is_slow);
  return poster.PostTaskAndReply(from_here, std::move(task), std::move(reply));
}

// static
bool WorkerPool::RunsTasksOnCurrentThread() {
  return ThreadPoolWorkerFlag()->Get();
}

// static
void WorkerPool::SetQueueUserWorkItemFunctionForTesting(QueueUserWorkItemFunction function) {
  g_queue_user_work_item = function ? function : &::QueueUserWorkItem;
}

}  // namespace base
