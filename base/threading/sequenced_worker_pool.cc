#include "base/threading/sequenced_worker_pool.h"

#include <objbase.h>

#include <atomic>
#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/message_loop/scoped_task_run_event.h"
#include "base/metrics/histogram.h"
#include "base/strings/stringprintf.h"
#include "base/threading/plain_thread.h"
#include "base/threading/thread_local_storage.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/trace_event/trace_log.h"
#include "base/tracked_objects.h"
#include "base/win/scoped_generic.h"

namespace base {

namespace {

// Named tokens of every pool come from one counter, so ids never collide.
std::atomic<uint32_t> g_last_sequence_token_id{0};

std::atomic<uintptr_t> g_worker_slot{0};

TlsSlot* WorkerSlot() {
  return GetLazyTlsSlot(&g_worker_slot);
}

const unsigned kFlagHasId = 2;

const uint8_t* FlowCategory() {
  static const uint8_t* category = trace_event::TraceLog::GetCategoryGroupEnabled(
      "disabled-by-default-toplevel.flow");
  return category;
}

// A sequence of one pool, posting with one shutdown behaviour.
class PoolSequencedTaskRunner : public SequencedTaskRunner {
 public:
  PoolSequencedTaskRunner(scoped_refptr<SequencedWorkerPool> pool,
                          SequencedWorkerPool::SequenceToken token,
                          SequencedWorkerPool::WorkerShutdown behavior)
      : pool_(std::move(pool)), token_(token), behavior_(behavior) {}

  bool PostDelayedTask(const Location& from_here, Closure task, TimeDelta delay) override {
    if (delay.is_zero())
      return pool_->PostTaskWithShutdownBehavior(token_, behavior_, from_here, std::move(task),
                                                 delay);
    return pool_->PostDelayedSequencedWorkerTask(token_, from_here, std::move(task), delay);
  }
  bool RunsTasksOnCurrentThread() const override {
    return pool_->IsRunningSequenceOnCurrentThread(token_);
  }
  bool PostNonNestableDelayedTask(const Location& from_here, Closure task,
                                  TimeDelta delay) override {
    // Pool tasks never run nested.
    return PostDelayedTask(from_here, std::move(task), delay);
  }

 private:
  ~PoolSequencedTaskRunner() override = default;

  const scoped_refptr<SequencedWorkerPool> pool_;
  const SequencedWorkerPool::SequenceToken token_;
  const SequencedWorkerPool::WorkerShutdown behavior_;
};

// The creating sequence's runner; null on a thread without a loop, where a pool released
// on its own worker cannot be deleted later.
scoped_refptr<SequencedTaskRunner> ConstructorTaskRunner() {
  scoped_refptr<SequencedTaskRunner> runner =
      SequencedWorkerPool::GetSequencedTaskRunnerForCurrentWorker();
  if (runner)
    return runner;
  return CurrentThreadTaskRunner::IsSet() ? CurrentThreadTaskRunner::Get() : nullptr;
}

SequencedWorkerPool::WorkerShutdown BehaviorForDelay(TimeDelta delay) {
  return delay > TimeDelta() ? SequencedWorkerPool::SKIP_ON_SHUTDOWN
                             : SequencedWorkerPool::BLOCK_SHUTDOWN;
}

}  // namespace

// ---------------------------------------------------------------- Worker

class SequencedWorkerPool::Worker : public PlainThread {
 public:
  Worker(scoped_refptr<SequencedWorkerPool> pool, int thread_number, size_t stack_size)
      : PlainThread(StringPrintf("%sWorker%d", pool->thread_name_prefix_.c_str(), thread_number),
                    stack_size),
        pool_(std::move(pool)) {}
  ~Worker() override = default;

  // The worker running the calling thread, or null.
  static Worker* GetForCurrentThread() { return static_cast<Worker*>(WorkerSlot()->Get()); }

  SequencedWorkerPool* pool() const { return pool_.get(); }

  uint32_t running_token_id = 0;
  WorkerShutdown running_behavior = BLOCK_SHUTDOWN;
  bool is_processing_task = false;

 private:
  void Run() override {
    ScopedComInitializer com(COINIT_APARTMENTTHREADED);
    WorkerSlot()->Set(this);
    pool_->ThreadLoop(this);
    WorkerSlot()->Set(nullptr);
    // May be the pool's last reference: the deletion then goes to its creating thread.
    pool_ = nullptr;
  }

  scoped_refptr<SequencedWorkerPool> pool_;
};

// ---------------------------------------------------------------- SequencedTask

SequencedWorkerPool::SequencedTask::SequencedTask()
    : birth_tally(nullptr),
      time_posted(0),
      sequence_token_id(0),
      trace_id(0),
      sequence_task_number(0),
      shutdown_behavior(BLOCK_SHUTDOWN) {}

SequencedWorkerPool::SequencedTask::~SequencedTask() = default;

SequencedWorkerPool::SequencedTask::SequencedTask(SequencedTask&& other) = default;
SequencedWorkerPool::SequencedTask& SequencedWorkerPool::SequencedTask::operator=(
    SequencedTask&& other) = default;

bool SequencedWorkerPool::SequencedTaskLess::operator()(const SequencedTask& a,
                                                        const SequencedTask& b) const {
  if (a.time_to_run != b.time_to_run)
    return a.time_to_run < b.time_to_run;
  return a.sequence_task_number < b.sequence_task_number;
}

// ---------------------------------------------------------------- pool

SequencedWorkerPool::SequencedWorkerPool(size_t max_threads,
                                         const std::string& thread_name_prefix)
    : constructor_task_runner_(ConstructorTaskRunner()),
      max_threads_(max_threads),
      thread_name_prefix_(thread_name_prefix) {
  InitializeConditionVariable(&has_work_cv_);
  InitializeConditionVariable(&can_shutdown_cv_);
}

SequencedWorkerPool::~SequencedWorkerPool() {
  // Workers end once shut down; an unshut pool has no references left to post with.
  {
    AutoLock lock(lock_);
    shutdown_called_ = true;
  }
  WakeAllConditionVariable(&has_work_cv_);
  for (auto& entry : threads_)
    entry.second->Join();
  threads_.clear();
}

void SequencedWorkerPool::OnDestruct() const {
  SequencedWorkerPool* self = const_cast<SequencedWorkerPool*>(this);
  if (RunsTasksOnCurrentThread()) {
    // A worker cannot join itself.
    if (constructor_task_runner_ &&
        constructor_task_runner_->PostNonNestableTask(
            Location("OnDestruct", __FILE__, __LINE__, GetCallerAddress()),
            Bind([](SequencedWorkerPool* pool) { delete pool; }, self))) {
      return;
    }
    LOG(ERROR) << "worker pool released on its own worker without a loop to delete it on";
    return;
  }
  delete self;
}

SequencedWorkerPool::SequenceToken SequencedWorkerPool::GetNamedSequenceToken(
    const std::string& name) {
  AutoLock lock(lock_);
  auto found = named_sequence_tokens_.find(name);
  if (found != named_sequence_tokens_.end())
    return SequenceToken(found->second);
  uint32_t id = ++g_last_sequence_token_id;
  named_sequence_tokens_[name] = id;
  return SequenceToken(id);
}

scoped_refptr<SequencedTaskRunner> SequencedWorkerPool::GetSequencedTaskRunner(
    SequenceToken token, WorkerShutdown behavior) {
  return new PoolSequencedTaskRunner(this, token, behavior);
}

// static
scoped_refptr<SequencedTaskRunner> SequencedWorkerPool::GetSequencedTaskRunnerForCurrentWorker() {
  Worker* worker = Worker::GetForCurrentThread();
  if (!worker || !worker->pool())
    return nullptr;
  return worker->pool()->GetSequencedTaskRunner(SequenceToken(worker->running_token_id),
                                                BLOCK_SHUTDOWN);
}

bool SequencedWorkerPool::PostDelayedTask(const Location& from_here, Closure task,
                                          TimeDelta delay) {
  return PostTaskWithShutdownBehavior(SequenceToken(), BehaviorForDelay(delay), from_here,
                                      std::move(task), delay);
}

bool SequencedWorkerPool::PostDelayedSequencedWorkerTask(SequenceToken token,
                                                         const Location& from_here,
                                                         Closure task, TimeDelta delay) {
  return PostTaskWithShutdownBehavior(token, BehaviorForDelay(delay), from_here,
                                      std::move(task), delay);
}

bool SequencedWorkerPool::PostTaskWithShutdownBehavior(SequenceToken token,
                                                       WorkerShutdown behavior,
                                                       const Location& from_here, Closure task,
                                                       TimeDelta delay) {
  CHECK(!task.is_null()) << "posting a null task";
  // Declared before the lock so that a refused task is released after it.
  SequencedTask sequenced;
  if (TrackedThreadData::IsActive()) {
    TrackedThreadData* thread_data = TrackedThreadData::Get();
    sequenced.birth_tally = thread_data ? thread_data->TallyABirth(from_here) : nullptr;
    sequenced.time_posted = TrackedThreadData::Now();
  }
  sequenced.sequence_token_id = token.id();
  sequenced.shutdown_behavior = behavior;
  sequenced.posted_from = from_here;
  sequenced.task = std::move(task);
  sequenced.time_to_run = TimeTicks::Now() + delay;

  int create_thread_number = 0;
  {
    AutoLock lock(lock_);
    if (shutdown_called_) {
      Worker* worker = Worker::GetForCurrentThread();
      bool from_nonblocking_task = worker && worker->pool() == this &&
                                   worker->is_processing_task &&
                                   worker->running_behavior != BLOCK_SHUTDOWN;
      if (behavior != BLOCK_SHUTDOWN || from_nonblocking_task ||
          max_blocking_tasks_after_shutdown_ <= 0) {
        return false;
      }
      --max_blocking_tasks_after_shutdown_;
    }
    sequenced.trace_id = trace_id_++;
    internal::ScopedTraceEvent::AddInstant(
        FlowCategory(), "SequencedWorkerPool::Inner::PostTask",
        (static_cast<uint64_t>(static_cast<uint32_t>(sequenced.trace_id)) << 32) |
            reinterpret_cast<uintptr_t>(this),
        kFlagHasId | trace_event::TraceLog::kFlagMangleId | trace_event::TraceLog::kFlagFlowOut);
    sequenced.sequence_task_number = next_sequence_task_number_++;
    if (behavior == BLOCK_SHUTDOWN)
      ++blocking_shutdown_pending_task_count_;
    pending_tasks_.insert(std::move(sequenced));
    create_thread_number = PrepareToStartAdditionalThreadIfHelpful();
  }
  if (create_thread_number)
    FinishStartingAdditionalThread(create_thread_number);
  else
    WakeConditionVariable(&has_work_cv_);
  return true;
}

bool SequencedWorkerPool::IsWorker(DWORD thread_id) const {
  return threads_.find(thread_id) != threads_.end();
}

bool SequencedWorkerPool::RunsTasksOnCurrentThread() const {
  AutoLock lock(lock_);
  return IsWorker(GetCurrentThreadId());
}

bool SequencedWorkerPool::IsRunningSequenceOnCurrentThread(SequenceToken token) const {
  AutoLock lock(lock_);
  auto found = threads_.find(GetCurrentThreadId());
  if (found == threads_.end())
    return false;
  const Worker* worker = found->second.get();
  return worker->is_processing_task && worker->running_token_id == token.id();
}

size_t SequencedWorkerPool::worker_count_for_testing() const {
  AutoLock lock(lock_);
  return threads_.size();
}

bool SequencedWorkerPool::IsSequenceTokenRunnable(uint32_t id) const {
  return id == 0 || current_sequences_.find(id) == current_sequences_.end();
}

int SequencedWorkerPool::PrepareToStartAdditionalThreadIfHelpful() {
  if (shutdown_called_ || thread_being_created_ || threads_.size() >= max_threads_ ||
      waiting_thread_count_ != 0) {
    return 0;
  }
  for (const SequencedTask& task : pending_tasks_) {
    if (IsSequenceTokenRunnable(task.sequence_token_id)) {
      thread_being_created_ = true;
      return static_cast<int>(threads_.size() + 1);
    }
  }
  return 0;
}

void SequencedWorkerPool::FinishStartingAdditionalThread(int thread_number) {
  std::unique_ptr<Worker> worker(new Worker(this, thread_number, worker_stack_size_));
  if (worker->Start()) {
    worker.release();  // the thread loop adds it to |threads_|
    return;
  }
  // Nobody registers: without this, Shutdown would wait for the creation forever.
  {
    AutoLock lock(lock_);
    thread_being_created_ = false;
  }
  WakeAllConditionVariable(&can_shutdown_cv_);
}

SequencedWorkerPool::GetWorkStatus SequencedWorkerPool::GetWork(
    SequencedTask* task, TimeDelta* wait_time, std::vector<SequencedTask>* delete_these) {
  const TimeTicks now = TimeTicks::Now();
  for (auto it = pending_tasks_.begin(); it != pending_tasks_.end();) {
    if (!IsSequenceTokenRunnable(it->sequence_token_id)) {
      ++it;
      continue;
    }
    if (shutdown_called_ && it->shutdown_behavior != BLOCK_SHUTDOWN) {
      delete_these->push_back(std::move(const_cast<SequencedTask&>(*it)));
      it = pending_tasks_.erase(it);
      continue;
    }
    if (it->time_to_run > now) {
      *wait_time = it->time_to_run - now;
      return GET_WORK_WAIT;
    }
    *task = std::move(const_cast<SequencedTask&>(*it));
    if (task->shutdown_behavior == BLOCK_SHUTDOWN)
      --blocking_shutdown_pending_task_count_;
    pending_tasks_.erase(it);
    return GET_WORK_FOUND;
  }
  return GET_WORK_NOT_FOUND;
}

void SequencedWorkerPool::DeleteWithoutLock(Worker* worker,
                                            std::vector<SequencedTask>* delete_these) {
  // Newest first; each destructor sees its own sequence as the current one.
  while (!delete_these->empty()) {
    SequencedTask& task = delete_these->back();
    worker->running_token_id = task.sequence_token_id;
    worker->running_behavior = task.shutdown_behavior;
    delete_these->pop_back();
  }
  worker->is_processing_task = false;
}

void SequencedWorkerPool::RunTask(Worker* worker, SequencedTask* task) {
  internal::ScopedTraceEvent::AddInstant(
      FlowCategory(), "SequencedWorkerPool::Inner::PostTask",
      (static_cast<uint64_t>(static_cast<uint32_t>(task->trace_id)) << 32) |
          reinterpret_cast<uintptr_t>(this),
      kFlagHasId | trace_event::TraceLog::kFlagMangleId | trace_event::TraceLog::kFlagFlowIn);
  internal::ScopedTaskRunEvent run_event("SequencedWorkerPool::Inner::ThreadLoop",
                                         task->posted_from);

  worker->running_token_id = task->sequence_token_id;
  worker->running_behavior = task->shutdown_behavior;
  worker->is_processing_task = true;

  TaskStopwatch stopwatch;
  stopwatch.Start();
  {
    Closure closure = std::move(task->task);
    closure.Run();
  }
  stopwatch.Stop();
  TrackedThreadData* thread_data = stopwatch.GetThreadData();
  if (task->birth_tally && thread_data) {
    int32_t queue_duration =
        stopwatch.StartTime() ? static_cast<int32_t>(stopwatch.StartTime() - task->time_posted)
                              : 0;
    thread_data->TallyADeath(*task->birth_tally, queue_duration, stopwatch);
  }
  worker->is_processing_task = false;
}

void SequencedWorkerPool::ThreadLoop(Worker* worker) {
  lock_.Acquire();
  thread_being_created_ = false;
  threads_[GetCurrentThreadId()].reset(worker);
  for (;;) {
    SequencedTask task;
    TimeDelta wait_time;
    std::vector<SequencedTask> delete_these;
    GetWorkStatus status = GetWork(&task, &wait_time, &delete_these);
    if (status == GET_WORK_FOUND) {
      if (task.sequence_token_id)
        current_sequences_.insert(task.sequence_token_id);
      if (task.shutdown_behavior != CONTINUE_ON_SHUTDOWN)
        ++blocking_shutdown_thread_count_;
      int create_thread_number = PrepareToStartAdditionalThreadIfHelpful();
      lock_.Release();

      WakeConditionVariable(&has_work_cv_);
      DeleteWithoutLock(worker, &delete_these);
      if (create_thread_number)
        FinishStartingAdditionalThread(create_thread_number);
      const uint32_t token_id = task.sequence_token_id;
      const WorkerShutdown behavior = task.shutdown_behavior;
      RunTask(worker, &task);
      task = SequencedTask();  // releases what the run left of it

      lock_.Acquire();
      if (behavior != CONTINUE_ON_SHUTDOWN)
        --blocking_shutdown_thread_count_;
      if (token_id)
        current_sequences_.erase(token_id);
      continue;
    }

    if (shutdown_called_ && blocking_shutdown_pending_task_count_ == 0) {
      lock_.Release();
      DeleteWithoutLock(worker, &delete_these);
      lock_.Acquire();
      break;
    }
    if (!delete_these.empty()) {
      // The pending set may have changed meanwhile: look again.
      lock_.Release();
      DeleteWithoutLock(worker, &delete_these);
      lock_.Acquire();
      continue;
    }

    ++waiting_thread_count_;
    DWORD timeout = INFINITE;
    if (status == GET_WORK_WAIT && !wait_time.is_max()) {
      int64_t ms = wait_time.InMilliseconds();
      timeout = ms >= static_cast<int64_t>(INFINITE) ? INFINITE : static_cast<DWORD>(ms);
    }
    SleepConditionVariableSRW(&has_work_cv_, lock_.native_handle(), timeout, 0);
    --waiting_thread_count_;
  }
  lock_.Release();

  // The next waiting worker sees the shutdown too.
  WakeConditionVariable(&has_work_cv_);
  WakeAllConditionVariable(&can_shutdown_cv_);
}

bool SequencedWorkerPool::CanShutdown() const {
  if (!thread_being_created_ && threads_.empty() && blocking_shutdown_pending_task_count_) {
    // No worker could ever be started: nobody is left to run them.
    return true;
  }
  return !thread_being_created_ && blocking_shutdown_thread_count_ == 0 &&
         blocking_shutdown_pending_task_count_ == 0;
}

void SequencedWorkerPool::Shutdown() {
  AutoLock lock(lock_);
  if (shutdown_called_)
    return;
  shutdown_called_ = true;
  max_blocking_tasks_after_shutdown_ = 0;
  WakeConditionVariable(&has_work_cv_);
  if (CanShutdown() && blocking_shutdown_pending_task_count_ == 0)
    return;

  TimeTicks shutdown_wait_begin = TimeTicks::Now();
  while (!CanShutdown())
    SleepConditionVariableSRW(&can_shutdown_cv_, lock_.native_handle(), INFINITE, 0);
  if (threads_.empty() && blocking_shutdown_pending_task_count_) {
    LOG(ERROR) << "no worker thread of " << thread_name_prefix_ << " could be started; "
               << blocking_shutdown_pending_task_count_ << " block-shutdown tasks not run";
  }
  static HistogramBase* histogram = Histogram::FactoryTimeGet(
      "SequencedWorkerPool.ShutdownDelayTime", TimeDelta::FromMilliseconds(1),
      TimeDelta::FromSeconds(10));
  if (histogram)
    histogram->Add(static_cast<int32_t>((TimeTicks::Now() - shutdown_wait_begin).InMilliseconds()));
}

bool SequencedWorkerPool::JoinWorkers() {
  std::vector<Worker*> workers;
  {
    AutoLock lock(lock_);
    if (!shutdown_called_ || IsWorker(GetCurrentThreadId())) {
      LOG(ERROR) << "the workers of " << thread_name_prefix_
                 << " can be joined only after shutdown, from another thread";
      return false;
    }
    // A worker being started registers itself first, then sees the shutdown and ends.
    while (thread_being_created_)
      SleepConditionVariableSRW(&can_shutdown_cv_, lock_.native_handle(), INFINITE, 0);
    for (auto& entry : threads_)
      workers.push_back(entry.second.get());
  }
  // Workers stay in |threads_| until the pool is deleted; each is joined once.
  VLOG(1) << "joining " << workers.size() << " workers of " << thread_name_prefix_;
  for (Worker* worker : workers)
    worker->Join();
  return true;
}

}  // namespace base
