#include "base/message_loop/message_loop.h"

#include <atomic>
#include <utility>

#include "base/debug/alias.h"
#include "base/logging.h"
#include "base/message_loop/message_pump_default.h"
#include "base/message_loop/message_pump_io.h"
#include "base/message_loop/message_pump_win.h"
#include "base/message_loop/scoped_task_run_event.h"
#include "base/run_loop.h"
#include "base/threading/thread_local_storage.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/trace_event/heap_context_tracker.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace {

// Tasks posting tasks from their destructors could keep the destructor busy forever.
const int kMaxDestructionPasses = 100;

std::atomic<uintptr_t> g_message_loop_slot{0};

TlsSlot* GetMessageLoopTlsSlot() {
  return GetLazyTlsSlot(&g_message_loop_slot);
}

}  // namespace

// ---------------------------------------------------------------- observer entries

MessageLoop::DestructionObserverEntry::DestructionObserverEntry(DestructionObserver* observer)
    : registered_from_(), observer_(observer) {
  // Skip this constructor's own frame.
  CaptureStackBackTrace(1, 10, registered_from_, nullptr);
}

void MessageLoop::DestructionObserverEntry::Notify() {
  // Kept on the stack so that a crash in the observer shows who registered it.
  void* registered_from[10];
  for (int i = 0; i < 10; ++i)
    registered_from[i] = registered_from_[i];
  debug::AliasForCrashDump(registered_from);
  observer_->WillDestroyCurrentMessageLoop();
}

// ---------------------------------------------------------------- construction

MessageLoop::MessageLoop(Type type) : MessageLoop(type, MessagePumpFactory()) {
  BindToCurrentThread();
}

MessageLoop::MessageLoop(Type type, MessagePumpFactory pump_factory)
    : type_(type), pump_factory_(std::move(pump_factory)) {
  incoming_task_queue_ = new IncomingQueue(this);
  unbound_task_runner_ = new MessageLoopTaskRunner(incoming_task_queue_);
  task_runner_ = unbound_task_runner_;
}

// static
std::unique_ptr<MessageLoop> MessageLoop::CreateUnbound(Type type,
                                                        MessagePumpFactory pump_factory) {
  return std::unique_ptr<MessageLoop>(new MessageLoop(type, std::move(pump_factory)));
}

// static
std::unique_ptr<MessagePump> MessageLoop::CreateMessagePumpForType(Type type) {
  switch (type) {
    case TYPE_UI:
      return std::unique_ptr<MessagePump>(new MessagePumpForUI());
    case TYPE_IO:
      return std::unique_ptr<MessagePump>(new MessagePumpForIO());
    default:
      return std::unique_ptr<MessagePump>(new DefaultMessagePump());
  }
}

void MessageLoop::BindToCurrentThread() {
  DCHECK(!pump_);
  pump_ = pump_factory_.is_null() ? CreateMessagePumpForType(type_) : pump_factory_.Run();
  DCHECK(!Current()) << "one MessageLoop per thread";
  GetMessageLoopTlsSlot()->Set(this);
  incoming_task_queue_->StartScheduling();
  unbound_task_runner_->BindToCurrentThread();
  unbound_task_runner_ = nullptr;
  thread_task_runner_handle_.reset();
  thread_task_runner_handle_.reset(new CurrentThreadTaskRunner(task_runner_));
  thread_id_ = GetCurrentThreadId();
}

MessageLoop::~MessageLoop() {
  DCHECK(thread_id_ == 0 || thread_id_ == GetCurrentThreadId());
  if (in_high_res_mode_) {
    in_high_res_mode_ = false;
    Time::ActivateHighResolutionTimer(false);
  }

  // Destroying a task may post more (destructors of bound objects); take those too, for a
  // bounded number of passes.
  for (int pass = 0; pass < kMaxDestructionPasses; ++pass) {
    DeletePendingTasks();
    ReloadWorkQueue();
    if (!DeletePendingTasks())
      break;
  }

  {
    ObserverList<DestructionObserverEntry>::Iter it(&destruction_observers_);
    while (DestructionObserverEntry* entry = it.GetNext())
      entry->Notify();
  }
  {
    ObserverList<DestructionObserverEntry>::Iter it(&destruction_observers_);
    while (DestructionObserverEntry* entry = it.GetNext()) {
      destruction_observers_.RemoveObserver(entry);
      delete entry;
    }
  }
  destruction_observers_.Clear();

  thread_task_runner_handle_.reset();

  // From here on posts fail and release their tasks on the posting thread.
  incoming_task_queue_->WillDestroyCurrentMessageLoop();
  incoming_task_queue_ = nullptr;
  unbound_task_runner_ = nullptr;
  task_runner_ = nullptr;

  if (Current() == this)
    GetMessageLoopTlsSlot()->Set(nullptr);
}

// static
MessageLoop* MessageLoop::Current() {
  return static_cast<MessageLoop*>(GetMessageLoopTlsSlot()->Get());
}

bool MessageLoop::IsType(Type type) const {
  return type_ == type;
}

// ---------------------------------------------------------------- observers

void MessageLoop::AddDestructionObserver(DestructionObserver* observer) {
  ObserverList<DestructionObserverEntry>::Iter it(&destruction_observers_);
  while (DestructionObserverEntry* entry = it.GetNext()) {
    if (entry->observer() == observer)
      return;
  }
  destruction_observers_.AddObserver(new DestructionObserverEntry(observer));
}

void MessageLoop::RemoveDestructionObserver(DestructionObserver* observer) {
  DestructionObserverEntry* found = nullptr;
  {
    ObserverList<DestructionObserverEntry>::Iter it(&destruction_observers_);
    while (DestructionObserverEntry* entry = it.GetNext()) {
      if (entry->observer() == observer) {
        found = entry;
        break;
      }
    }
  }
  if (!found)
    return;
  // During a notification the list only clears the entry and compacts later.
  destruction_observers_.RemoveObserver(found);
  delete found;
}

void MessageLoop::AddNestingObserver(NestingObserver* observer) {
  nesting_observers_.AddObserver(observer);
}

void MessageLoop::RemoveNestingObserver(NestingObserver* observer) {
  nesting_observers_.RemoveObserver(observer);
}

void MessageLoop::AddTaskObserver(TaskObserver* observer) {
  task_observers_.AddObserver(observer);
}

void MessageLoop::RemoveTaskObserver(TaskObserver* observer) {
  task_observers_.RemoveObserver(observer);
}

// ---------------------------------------------------------------- running

void MessageLoop::QuitNow() {
  if (current_run_loop_)
    pump_->Quit();
}

void MessageLoop::ScheduleWork() {
  pump_->ScheduleWork();
}

int MessageLoop::CurrentRunDepth() const {
  return current_run_loop_ ? current_run_loop_->run_depth_ : 0;
}

void MessageLoop::ReloadWorkQueue() {
  // One lock acquisition moves the whole incoming queue.
  if (work_queue_.empty())
    pending_high_res_tasks_ += incoming_task_queue_->ReloadWorkQueue(&work_queue_);
}

void MessageLoop::AddToDelayedWorkQueue(PendingTask pending_task) {
  delayed_work_queue_.push(std::move(pending_task));
}

bool MessageLoop::DeferOrRunPendingTask(PendingTask pending_task) {
  if (pending_task.nestable || CurrentRunDepth() == 1) {
    RunTask(&pending_task);
    return true;
  }
  // Waits until the outermost run is idle again.
  deferred_non_nestable_work_queue_.push(std::move(pending_task));
  return false;
}

bool MessageLoop::DoWork() {
  if (!nestable_tasks_allowed_)
    return false;
  for (;;) {
    ReloadWorkQueue();
    if (work_queue_.empty())
      return false;
    do {
      PendingTask pending_task = std::move(work_queue_.front());
      work_queue_.pop();
      if (!pending_task.delayed_run_time.is_null()) {
        int sequence_num = pending_task.sequence_num;
        TimeTicks delayed_run_time = pending_task.delayed_run_time;
        AddToDelayedWorkQueue(std::move(pending_task));
        // A new earliest delayed task moves the pump's wake-up forward.
        if (delayed_work_queue_.top().sequence_num == sequence_num)
          pump_->ScheduleDelayedWork(delayed_run_time);
      } else if (DeferOrRunPendingTask(std::move(pending_task))) {
        return true;
      }
    } while (!work_queue_.empty());
  }
}

bool MessageLoop::DoDelayedWork(TimeTicks* next_delayed_work_time) {
  if (!nestable_tasks_allowed_ || delayed_work_queue_.empty()) {
    recent_time_ = *next_delayed_work_time = TimeTicks();
    return false;
  }

  // Reads the clock only when the cached time says the top is not due yet, so a backlog
  // of due tasks costs one clock reading.
  TimeTicks next_run_time = delayed_work_queue_.top().delayed_run_time;
  if (next_run_time > recent_time_) {
    recent_time_ = TimeTicks::Now();
    if (next_run_time > recent_time_) {
      *next_delayed_work_time = next_run_time;
      return false;
    }
  }

  PendingTask pending_task = std::move(const_cast<PendingTask&>(delayed_work_queue_.top()));
  delayed_work_queue_.pop();
  if (!delayed_work_queue_.empty())
    *next_delayed_work_time = delayed_work_queue_.top().delayed_run_time;
  return DeferOrRunPendingTask(std::move(pending_task));
}

bool MessageLoop::HasWaitingWork() {
  if (!nestable_tasks_allowed_)
    return false;
  // An empty reload also clears the incoming queue's "pump woken" mark, so that a task
  // posted after this answer wakes the pump (and any modal loop) again.
  ReloadWorkQueue();
  if (!work_queue_.empty())
    return true;
  if (delayed_work_queue_.empty())
    return false;
  TimeTicks next_run_time = delayed_work_queue_.top().delayed_run_time;
  if (next_run_time <= recent_time_)
    return true;
  recent_time_ = TimeTicks::Now();
  return next_run_time <= recent_time_;
}

bool MessageLoop::DoIdleWork() {
  if (CurrentRunDepth() == 1 && !deferred_non_nestable_work_queue_.empty()) {
    PendingTask pending_task = std::move(deferred_non_nestable_work_queue_.front());
    deferred_non_nestable_work_queue_.pop();
    RunTask(&pending_task);
    return true;
  }

  if (current_run_loop_ && current_run_loop_->quit_when_idle_received_)
    pump_->Quit();

  // Hold the fine timer period only while short delayed tasks are queued.
  bool high_res = pending_high_res_tasks_ > 0;
  if (high_res != in_high_res_mode_) {
    in_high_res_mode_ = high_res;
    Time::ActivateHighResolutionTimer(high_res);
  }
  return false;
}

void MessageLoop::RunTask(PendingTask* pending_task) {
  current_pending_task_ = pending_task;
  if (pending_task->is_high_res) {
    pending_high_res_tasks_--;
    CHECK_GE(pending_high_res_tasks_, 0);
  }
  // Tasks started inside this one (from nested runs) must wait.
  nestable_tasks_allowed_ = false;

  internal::ScopedTaskRunEvent run_event("MessageLoop::RunTask", pending_task->posted_from);

  task_observers_.Notify(&TaskObserver::WillProcessTask, *pending_task);
  task_tracer_.RunTask("MessageLoop::PostTask", pending_task);
  task_observers_.Notify(&TaskObserver::DidProcessTask, *pending_task);

  current_pending_task_ = nullptr;
  nestable_tasks_allowed_ = true;
}

bool MessageLoop::DeletePendingTasks() {
  bool did_work = !work_queue_.empty();
  while (!work_queue_.empty()) {
    PendingTask pending_task = std::move(work_queue_.front());
    work_queue_.pop();
    if (!pending_task.delayed_run_time.is_null())
      AddToDelayedWorkQueue(std::move(pending_task));
    // Otherwise destroyed here, releasing its callback.
  }
  did_work |= !deferred_non_nestable_work_queue_.empty();
  while (!deferred_non_nestable_work_queue_.empty()) {
    PendingTask pending_task = std::move(deferred_non_nestable_work_queue_.front());
    deferred_non_nestable_work_queue_.pop();
  }
  did_work |= !delayed_work_queue_.empty();
  while (!delayed_work_queue_.empty()) {
    PendingTask pending_task = std::move(const_cast<PendingTask&>(delayed_work_queue_.top()));
    delayed_work_queue_.pop();
  }
  return did_work;
}

}  // namespace base
