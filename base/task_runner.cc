#include "base/task_runner.h"

#include <utility>

#include "base/threading/post_task_and_reply_impl.h"

namespace base {

namespace {

// Posts the relay's first half to the destination runner.
class PostTaskAndReplyTaskRunner : public internal::PostTaskAndReplyImpl {
 public:
  explicit PostTaskAndReplyTaskRunner(TaskRunner* destination) : destination_(destination) {}

 private:
  bool PostTask(const Location& posted_from, Closure task) override {
    return destination_->PostTask(posted_from, std::move(task));
  }

  TaskRunner* destination_;
};

}  // namespace

// static
void TaskRunnerTraits::Destruct(const TaskRunner* task_runner) {
  task_runner->OnDestruct();
}

TaskRunner::TaskRunner() = default;
TaskRunner::~TaskRunner() = default;

void TaskRunner::OnDestruct() const {
  delete this;
}

bool TaskRunner::PostTask(const Location& posted_from, Closure task) {
  return PostDelayedTask(posted_from, std::move(task), TimeDelta());
}

bool TaskRunner::PostTaskAndReply(const Location& posted_from, Closure task, Closure reply) {
  PostTaskAndReplyTaskRunner adapter(this);
  return adapter.PostTaskAndReply(posted_from, std::move(task), std::move(reply));
}

}  // namespace base
