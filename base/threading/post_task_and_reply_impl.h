// The relay behind PostTaskAndReply: runs a task on some destination, then its reply on
// the sequence that posted them. Subclasses say how the task reaches the destination.
#ifndef BASE_THREADING_POST_TASK_AND_REPLY_IMPL_H_
#define BASE_THREADING_POST_TASK_AND_REPLY_IMPL_H_

#include "base/callback.h"
#include "base/location.h"

namespace base {
namespace internal {

class PostTaskAndReplyImpl {
 public:
  virtual ~PostTaskAndReplyImpl() = default;

  // False, with task and reply released, when the task cannot be posted. Must be called
  // on a thread that has a sequenced task runner for the reply.
  [[nodiscard]] bool PostTaskAndReply(const Location& posted_from, Closure task, Closure reply);

 private:
  virtual bool PostTask(const Location& posted_from, Closure task) = 0;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_THREADING_POST_TASK_AND_REPLY_IMPL_H_
