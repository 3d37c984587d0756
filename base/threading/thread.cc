#include "base/threading/thread.h"

#include <objbase.h>

#include <utility>

#include "base/bind.h"
#include "base/debug/activity_tracker.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/run_loop.h"
#include "base/win/scoped_generic.h"

namespace base {

Thread::StartParams::StartParams()
    : message_loop_type(MessageLoop::TYPE_DEFAULT),
      timer_slack(0),
      stack_size(0),
      priority(OsThread::PRIORITY_NORMAL),
      joinable(true) {}

Thread::StartParams::~StartParams() = default;

Thread::Thread(const std::string& name)
    : id_event_(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED),
      name_(name),
      start_event_(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED) {}

Thread::~Thread() {
  Stop();
}

bool Thread::Start() {
  StartParams params;
  if (com_mode_ == COM_STA)
    params.message_loop_type = MessageLoop::TYPE_UI;
  return StartWithParams(params);
}

bool Thread::StartWithParams(const StartParams& params) {
  id_event_.Reset();
  thread_id_ = 0;

  MessageLoop::Type type = params.message_pump_factory.is_null()
                               ? static_cast<MessageLoop::Type>(params.message_loop_type)
                               : MessageLoop::TYPE_CUSTOM;
  timer_slack_ = params.timer_slack;
  std::unique_ptr<MessageLoop> loop =
      MessageLoop::CreateUnbound(type, params.message_pump_factory);
  {
    AutoLock lock(running_lock_);
    message_loop_ = loop.get();
  }
  start_event_.Reset();

  AutoLock lock(thread_lock_);
  HANDLE handle = nullptr;
  bool created = OsThread::Create(params.stack_size, this,
                                  params.joinable ? &handle : nullptr, params.priority);
  if (!created) {
    PLOG(ERROR) << "could not create thread \"" << name_ << "\"";
    {
      AutoLock running_lock(running_lock_);
      message_loop_ = nullptr;
    }
    started_ = false;
    return false;  // |loop| is destroyed here
  }
  // From here on the thread main owns the loop.
  loop.release();
  thread_handle_.Set(handle);
  joinable_ = params.joinable;
  started_ = true;
  return true;
}

void Thread::StopSoon() {
  if (stopping_)
    return;
  scoped_refptr<SequencedTaskRunner> task_runner = GetTaskRunner();
  if (!task_runner)
    return;
  stopping_ = true;
  task_runner->PostTask(Location("StopSoon", __FILE__, __LINE__, GetCallerAddress()),
                        Bind(&Thread::QuitWhenIdle, this));
}

void Thread::Stop() {
  AutoLock lock(thread_lock_);
  StopSoon();
  if (!thread_handle_.IsValid())
    return;
  OsThread::Join(thread_handle_.Take());
  stopping_ = false;
}

// static
void Thread::QuitWhenIdle(Thread* thread) {
  // Runs on the thread itself, inside its run.
  if (thread->run_loop_)
    thread->run_loop_->QuitWhenIdle();
}

scoped_refptr<SequencedTaskRunner> Thread::GetTaskRunner() const {
  AutoLock lock(running_lock_);
  if (!message_loop_)
    return nullptr;
  return message_loop_->task_runner();
}

bool Thread::IsRunning() const {
  AutoLock lock(running_lock_);
  return running_;
}

DWORD Thread::WaitForThreadId() {
  id_event_.Wait();
  return thread_id_;
}

bool Thread::WaitUntilThreadStarted() {
  if (!started_)
    return false;
  start_event_.Wait();
  return true;
}

void Thread::Run(RunLoop* run_loop) {
  run_loop->Run();
}

void Thread::ThreadMain() {
  thread_id_ = GetCurrentThreadId();
  id_event_.Signal();

  OsThread::SetName(name_);
  OnThreadStarting();

  MessageLoop* loop;
  {
    AutoLock lock(running_lock_);
    loop = message_loop_;
  }
  loop->BindToCurrentThread();
  loop->pump()->SetTimerSlack(timer_slack_);

  ScopedComInitializer com;
  if (com_mode_ != COM_NONE)
    com = ScopedComInitializer(com_mode_ == COM_STA ? COINIT_APARTMENTTHREADED
                                                    : COINIT_MULTITHREADED);

  Init();
  {
    AutoLock lock(running_lock_);
    running_ = true;
  }
  start_event_.Signal();

  {
    RunLoop run_loop;
    run_loop_ = &run_loop;
    Run(&run_loop);
    {
      AutoLock lock(running_lock_);
      running_ = false;
    }
    CleanUp();
    // After the clean-up, which may still use COM, and before the loop goes.
    com.Reset();
    {
      AutoLock lock(running_lock_);
      message_loop_ = nullptr;
    }
    run_loop_ = nullptr;
  }
  // Runs the loop's destruction observers on this thread.
  delete loop;
}

}  // namespace base
