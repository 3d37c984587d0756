// Records the posting label (the function name of its Location) of every task that the
// calling thread's message loop runs while the recorder lives.
//
//   base::PostedTaskLabels labels;
//   ... run the loop ...
//   EXPECT_NE(labels.labels.end(), std::find(..., "Run"));
#ifndef BASE_TEST_POSTED_TASK_LABELS_TEST_UTIL_H_
#define BASE_TEST_POSTED_TASK_LABELS_TEST_UTIL_H_

#include <string>
#include <vector>

#include "base/message_loop/message_loop.h"
#include "base/message_loop/pending_task.h"

namespace base {

class PostedTaskLabels : public MessageLoop::TaskObserver {
 public:
  PostedTaskLabels() : loop_(MessageLoop::Current()) { loop_->AddTaskObserver(this); }
  ~PostedTaskLabels() { loop_->RemoveTaskObserver(this); }
  PostedTaskLabels(const PostedTaskLabels&) = delete;
  PostedTaskLabels& operator=(const PostedTaskLabels&) = delete;

  void WillProcessTask(const PendingTask& task) override {
    const char* name = task.posted_from.function_name();
    labels.push_back(name ? name : "");
  }
  void DidProcessTask(const PendingTask&) override {}

  bool Saw(const std::string& label) const {
    for (const std::string& seen : labels)
      if (seen == label) return true;
    return false;
  }

  std::vector<std::string> labels;

 private:
  MessageLoop* const loop_;
};

}  // namespace base

#endif  // BASE_TEST_POSTED_TASK_LABELS_TEST_UTIL_H_
