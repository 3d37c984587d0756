#include "base/threading/post_task_and_reply_impl.h"

#include <utility>

#include "base/bind.h"
#include "base/sequenced_task_runner.h"
#include "base/threading/sequenced_task_runner_handle.h"

namespace base {
namespace internal {

namespace {

// Carries task and reply across: the task runs on the destination, the reply back on the
// origin sequence, which also destroys the relay.
class TaskReplyRelay {
 public:
  TaskReplyRelay(const Location& posted_from, Closure task, Closure reply)
      : posted_from_(posted_from),
        origin_task_runner_(CurrentSequenceTaskRunner::Get()),
        reply_(std::move(reply)),
        task_(std::move(task)) {}
  TaskReplyRelay(const TaskReplyRelay&) = delete;
  TaskReplyRelay& operator=(const TaskReplyRelay&) = delete;

  static void RunTaskAndPostReply(TaskReplyRelay* relay) {
    Closure task = std::move(relay->task_);
    task.Run();
    task.Reset();
    relay->origin_task_runner_->PostTask(relay->posted_from_,
                                         Bind(&TaskReplyRelay::RunReplyAndDestroy, relay));
  }

 private:
  static void RunReplyAndDestroy(TaskReplyRelay* relay) {
    Closure reply = std::move(relay->reply_);
    reply.Run();
    reply.Reset();
    delete relay;
  }

  Location posted_from_;
  scoped_refptr<SequencedTaskRunner> origin_task_runner_;
  Closure reply_;
  Closure task_;
};

}  // namespace

bool PostTaskAndReplyImpl::PostTaskAndReply(const Location& posted_from, Closure task,
                                            Closure reply) {
  TaskReplyRelay* relay = new TaskReplyRelay(posted_from, std::move(task), std::move(reply));
  if (PostTask(posted_from, Bind(&TaskReplyRelay::RunTaskAndPostReply, relay)))
    return true;
  delete relay;
  return false;
}

}  // namespace internal
}  // namespace base
