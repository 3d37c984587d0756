// MessageLoop: the per-thread task loop. Other threads post tasks through its task
// runner; the loop runs them one at a time on its own thread, in posting order, delayed
// tasks when their time comes, and leaves the waiting to its message pump. A RunLoop
// drives it until told to quit.
//
//   base::MessageLoop loop(base::MessageLoop::TYPE_UI);   // binds to this thread
//   base::RunLoop run_loop;
//   loop.task_runner()->PostTask(FROM_HERE, run_loop.QuitClosure());
//   run_loop.Run();
#ifndef BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_
#define BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_

#include <windows.h>

#include <memory>

#include "base/callback.h"
#include "base/memory/ref_counted.h"
#include "base/message_loop/incoming_task_queue.h"
#include "base/message_loop/message_loop_task_runner.h"
#include "base/message_loop/message_pump.h"
#include "base/message_loop/pending_task.h"
#include "base/message_loop/task_tracer.h"
#include "base/observer_list.h"
#include "base/time/time.h"

namespace base {

class CurrentThreadTaskRunner;
class RunLoop;

class MessageLoop : public MessagePump::Delegate {
 public:
  enum Type : uint32_t {
    TYPE_DEFAULT = 0,
    TYPE_UI = 1,
    TYPE_CUSTOM = 2,  // the pump comes from a factory
    TYPE_IO = 3,
  };

  typedef Callback<std::unique_ptr<MessagePump>()> MessagePumpFactory;

  // Told, on the loop's thread, that the loop is about to be destroyed.
  class DestructionObserver {
   public:
    virtual void WillDestroyCurrentMessageLoop() = 0;

   protected:
    ~DestructionObserver() = default;
  };

  // Told when a nested run loop begins.
  class NestingObserver {
   public:
    virtual void OnBeginNestedRunLoop() = 0;

   protected:
    ~NestingObserver() = default;
  };

  // Told around every task the loop runs.
  class TaskObserver {
   public:
    virtual void WillProcessTask(const PendingTask& pending_task) = 0;
    virtual void DidProcessTask(const PendingTask& pending_task) = 0;

   protected:
    ~TaskObserver() = default;
  };

  // Builds the loop and binds it to the calling thread.
  explicit MessageLoop(Type type = TYPE_DEFAULT);
  ~MessageLoop() override;
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // Builds a loop that a thread binds later with BindToCurrentThread. Posting works at
  // once; the tasks wait until the loop is bound.
  static std::unique_ptr<MessageLoop> CreateUnbound(Type type,
                                                    MessagePumpFactory pump_factory);
  void BindToCurrentThread();

  // The calling thread's loop, or null.
  static MessageLoop* Current();

  bool IsType(Type type) const;
  Type type() const { return type_; }

  // The runner through which any thread posts to this loop.
  const scoped_refptr<SequencedTaskRunner>& task_runner() const { return task_runner_; }

  void AddDestructionObserver(DestructionObserver* observer);
  void RemoveDestructionObserver(DestructionObserver* observer);
  void AddNestingObserver(NestingObserver* observer);
  void RemoveNestingObserver(NestingObserver* observer);
  void AddTaskObserver(TaskObserver* observer);
  void RemoveTaskObserver(TaskObserver* observer);

  // The task being run, or null.
  const PendingTask* current_pending_task() const { return current_pending_task_; }

  MessagePump* pump() const { return pump_.get(); }

  // MessagePump::Delegate:
  bool DoWork() override;
  bool DoDelayedWork(TimeTicks* next_delayed_work_time) override;
  bool DoIdleWork() override;
  bool HasWaitingWork() override;

 private:
  friend class IncomingQueue;
  friend class RunLoop;

  // Wraps a destruction observer with the call chain that registered it, so that a crash
  // in the observer shows who added it.
  class DestructionObserverEntry {
   public:
    explicit DestructionObserverEntry(DestructionObserver* observer);
    void Notify();
    DestructionObserver* observer() const { return observer_; }

   private:
    void* registered_from_[10];
    DestructionObserver* observer_;
  };

  MessageLoop(Type type, MessagePumpFactory pump_factory);

  static std::unique_ptr<MessagePump> CreateMessagePumpForType(Type type);

  // Asks the pump to end the innermost run; used by RunLoop.
  void QuitNow();
  // Wakes the pump; called by the incoming queue from any thread.
  void ScheduleWork();

  void RunTask(PendingTask* pending_task);
  // Runs a task that was taken off a queue, or defers it when it may not run in a
  // nested run. Returns whether it ran.
  bool DeferOrRunPendingTask(PendingTask pending_task);
  void AddToDelayedWorkQueue(PendingTask pending_task);
  // Destroys every queued task; returns whether there was any.
  bool DeletePendingTasks();
  void ReloadWorkQueue();
  int CurrentRunDepth() const;

  std::unique_ptr<MessagePump> pump_;
  const Type type_;
  TaskQueue work_queue_;
  int pending_high_res_tasks_ = 0;
  bool in_high_res_mode_ = false;
  DelayedTaskQueue delayed_work_queue_;
  TimeTicks recent_time_;
  TaskQueue deferred_non_nestable_work_queue_;
  ObserverList<DestructionObserverEntry> destruction_observers_;
  ObserverList<NestingObserver> nesting_observers_;
  bool nestable_tasks_allowed_ = true;
  MessagePumpFactory pump_factory_;
  RunLoop* current_run_loop_ = nullptr;
  ObserverList<TaskObserver> task_observers_;
  TaskTracer task_tracer_;
  const PendingTask* current_pending_task_ = nullptr;
  scoped_refptr<IncomingQueue> incoming_task_queue_;
  scoped_refptr<MessageLoopTaskRunner> unbound_task_runner_;
  scoped_refptr<SequencedTaskRunner> task_runner_;
  std::unique_ptr<CurrentThreadTaskRunner> thread_task_runner_handle_;
  DWORD thread_id_ = 0;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_LOOP_H_
