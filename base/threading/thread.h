// Thread: a named thread that owns a MessageLoop and runs it until stopped. Tasks reach
// it through its task runner, also before the thread has started running.
//
//   Thread ipc_thread("Installer IPC thread");
//   Thread::StartParams params;
//   params.message_loop_type = MessageLoop::TYPE_IO;
//   if (!ipc_thread.StartWithParams(params)) LOG(ERROR) << "Could not start IPC thread";
//   ipc_thread.GetTaskRunner()->PostTask(FROM_HERE, Bind(&Receiver::Open, receiver));
//   ipc_thread.Stop();   // runs the queued tasks, then joins
#ifndef BASE_THREADING_THREAD_H_
#define BASE_THREADING_THREAD_H_

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "base/memory/ref_counted.h"
#include "base/message_loop/message_loop.h"
#include "base/sequenced_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/sync_event.h"
#include "base/threading/os_thread.h"
#include "base/win/scoped_handle.h"

namespace base {

class RunLoop;

class Thread : public OsThread::Delegate {
 public:
  enum ComMode : uint32_t { COM_NONE = 0, COM_STA = 1, COM_MTA = 2 };

  struct StartParams {
    StartParams();
    ~StartParams();
    uint32_t message_loop_type;  // MessageLoop::Type
    uint32_t timer_slack;
    MessageLoop::MessagePumpFactory message_pump_factory;
    size_t stack_size;  // 0: the process default
    uint32_t priority;  // OsThread::Priority
    bool joinable;
  };

  explicit Thread(const std::string& name);
  // Stops the thread, waiting for it when joinable.
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Set before the start.
  void init_com_with_sta() { com_mode_ = COM_STA; }
  void init_com_with_mta() { com_mode_ = COM_MTA; }

  // Default parameters; a UI loop when the thread is to be a single-threaded apartment.
  [[nodiscard]] bool Start();
  // False, with the Thread left unstarted, when the OS thread cannot be created. Does
  // not wait for the thread: posts made right away wait in the loop's queue.
  [[nodiscard]] bool StartWithParams(const StartParams& params);

  // Runs the tasks already queued, ends the thread and joins it. Harmless when the
  // thread never started or was stopped already.
  void Stop();
  // Asks the thread to end once its queue is empty; does not wait.
  void StopSoon();

  // The loop's runner, or null while there is no loop.
  scoped_refptr<SequencedTaskRunner> GetTaskRunner() const;

  bool IsRunning() const;
  DWORD thread_id() const { return thread_id_; }
  const std::string& thread_name() const { return name_; }

  // Waits until the new thread has recorded its id.
  DWORD WaitForThreadId();
  // Waits until the loop is about to run; false when the thread never started.
  [[nodiscard]] bool WaitUntilThreadStarted();

 protected:
  // OsThread::Delegate:
  void ThreadMain() override;

  // Hooks on the new thread, around the run.
  virtual void OnThreadStarting() {}
  virtual void Init() {}
  virtual void Run(RunLoop* run_loop);
  virtual void CleanUp() {}

 private:
  static void QuitWhenIdle(Thread* thread);

  uint32_t com_mode_ = COM_NONE;
  bool joinable_ = true;
  bool stopping_ = false;
  bool running_ = false;
  mutable Lock running_lock_;
  ScopedHandle thread_handle_;
  Lock thread_lock_;
  DWORD thread_id_ = 0;
  SyncEvent id_event_;
  // Guarded by running_lock_: the new thread clears it at its end.
  MessageLoop* message_loop_ = nullptr;
  // Touched only on the new thread.
  RunLoop* run_loop_ = nullptr;
  uint32_t timer_slack_ = 0;
  const std::string name_;
  SyncEvent start_event_;
  bool started_ = false;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_H_
