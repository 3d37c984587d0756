#include "desktop/windows/installer/task_service_connection.h"

#include <windows.h>
#include <objbase.h>

#include <utility>

#include "base/logging.h"
#include "base/threading/plain_thread.h"
#include "base/win/scoped_generic.h"

namespace installer {

class TaskServiceConnection::ConnectThread : public base::PlainThread {
 public:
  explicit ConnectThread(std::function<void()> connect)
      : base::PlainThread("TaskServiceConnection"), connect_(std::move(connect)) {}

 private:
  void Run() override {
    // The multithreaded apartment: this thread runs no message loop.
    const base::ScopedComInitializer com(COINIT_MULTITHREADED);
    connect_();
  }

  const std::function<void()> connect_;
};

TaskServiceConnection::TaskServiceConnection(std::function<void()> connect)
    : connect_(std::move(connect)) {}

TaskServiceConnection::~TaskServiceConnection() { Wait(); }

void TaskServiceConnection::Start() {
  if (thread_ || !connect_) return;
  auto thread = std::make_unique<ConnectThread>(connect_);
  if (!thread->Start()) {
    VLOG(1) << "No thread to connect to the task scheduler ahead";
    return;
  }
  thread_ = std::move(thread);
}

void TaskServiceConnection::Wait() {
  if (thread_ && !thread_->HasBeenJoined()) thread_->Join();
}

}  // namespace installer
