// PlainThread: a named thread without a loop that runs one Run operation. Its name is
// the prefix, "/" and the thread id ("PrefsTaskPoolWorker1/4242").
//
//   class Closer : public PlainThread {
//     Closer() : PlainThread("Wininet Termination") {}
//     void Run() override { ... }
//   };
//   if (closer.Start()) { ...; closer.Join(); }
#ifndef BASE_THREADING_PLAIN_THREAD_H_
#define BASE_THREADING_PLAIN_THREAD_H_

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base/synchronization/sync_event.h"
#include "base/threading/os_thread.h"
#include "base/win/scoped_handle.h"

namespace base {

class PlainThread : public OsThread::Delegate {
 public:
  explicit PlainThread(const std::string& name_prefix);
  // |stack_size| 0 takes the process default.
  PlainThread(const std::string& name_prefix, size_t stack_size);
  // Does not join: a started joinable thread is joined by its owner first.
  virtual ~PlainThread();
  PlainThread(const PlainThread&) = delete;
  PlainThread& operator=(const PlainThread&) = delete;

  // Returns once the new thread has named itself; false, without waiting, when the
  // OS thread cannot be created.
  [[nodiscard]] virtual bool Start();
  virtual void Join();

  const std::string& name_prefix() const { return name_prefix_; }
  DWORD thread_id() const { return thread_id_; }
  bool HasBeenJoined() const { return joined_; }

 protected:
  // OsThread::Delegate:
  void ThreadMain() override;
  // The thread's work.
  virtual void Run() = 0;

 private:
  const std::string name_prefix_;
  const size_t stack_size_;
  const uint32_t priority_ = OsThread::PRIORITY_NORMAL;
  const bool joinable_ = true;
  ScopedHandle thread_handle_;
  SyncEvent start_event_;
  DWORD thread_id_ = 0;
  bool joined_ = false;
};

}  // namespace base

#endif  // BASE_THREADING_PLAIN_THREAD_H_
