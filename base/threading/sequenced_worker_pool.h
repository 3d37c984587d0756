// SequencedWorkerPool: runs posted tasks on at most |max_threads| worker threads made
// on demand. Tasks of one sequence token run one at a time in posting order; others run
// in parallel. Each task's shutdown behaviour says whether Shutdown drops it, lets it
// finish, or waits for it.
//
//   scoped_refptr<SequencedWorkerPool> pool = new SequencedWorkerPool(2, "PrefsTaskPool");
//   scoped_refptr<SequencedTaskRunner> runner = pool->GetSequencedTaskRunner(
//       pool->GetNamedSequenceToken("json_pref_store-" + path),
//       SequencedWorkerPool::BLOCK_SHUTDOWN);
//   runner->PostTask(FROM_HERE, write);
//   pool->Shutdown();   // returns once |write| has run
#ifndef BASE_THREADING_SEQUENCED_WORKER_POOL_H_
#define BASE_THREADING_SEQUENCED_WORKER_POOL_H_

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/sequenced_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/task_runner.h"
#include "base/time/time.h"

namespace base {

class Births;

class SequencedWorkerPool : public TaskRunner {
 public:
  enum WorkerShutdown : uint32_t {
    // Not run if still pending at shutdown; a running one does not hold it up.
    CONTINUE_ON_SHUTDOWN = 0,
    // Dropped if not started when shutdown begins; a running one holds it up.
    SKIP_ON_SHUTDOWN = 1,
    // Runs before shutdown completes.
    BLOCK_SHUTDOWN = 2,
  };

  // 0 is no sequence. Ids are unique across pools.
  class SequenceToken {
   public:
    SequenceToken() : id_(0) {}
    bool Equals(const SequenceToken& other) const { return id_ == other.id_; }
    bool IsValid() const { return id_ != 0; }
    uint32_t id() const { return id_; }

   private:
    friend class SequencedWorkerPool;
    explicit SequenceToken(uint32_t id) : id_(id) {}
    uint32_t id_;
  };

  class Worker;

  // Must be called on a thread with a MessageLoop: a pool whose last reference goes
  // away on one of its own workers is deleted there.
  SequencedWorkerPool(size_t max_threads, const std::string& thread_name_prefix);

  SequenceToken GetNamedSequenceToken(const std::string& name);
  scoped_refptr<SequencedTaskRunner> GetSequencedTaskRunner(SequenceToken token,
                                                            WorkerShutdown behavior);

  // An untokenised task: SKIP_ON_SHUTDOWN with a delay, else BLOCK_SHUTDOWN.
  [[nodiscard]] bool PostDelayedTask(const Location& from_here, Closure task, TimeDelta delay) override;
  [[nodiscard]] bool PostDelayedSequencedWorkerTask(SequenceToken token, const Location& from_here,
                                      Closure task, TimeDelta delay);
  // Any behaviour; what the sequenced runners post through.
  [[nodiscard]] bool PostTaskWithShutdownBehavior(SequenceToken token, WorkerShutdown behavior,
                                    const Location& from_here, Closure task, TimeDelta delay);

  bool RunsTasksOnCurrentThread() const override;
  // Inside a pool task: a runner for the task's own sequence; elsewhere null.
  static scoped_refptr<SequencedTaskRunner> GetSequencedTaskRunnerForCurrentWorker();
  bool IsRunningSequenceOnCurrentThread(SequenceToken token) const;

  // Drops pending tasks that may be dropped and waits for the block-shutdown ones
  // (pending or running) and for skip-on-shutdown ones already running. Later posts
  // are refused. A second call returns at once.
  void Shutdown();

  // After Shutdown, on one thread that is not a worker of the pool: waits until every
  // worker thread has ended, so that none holds a reference to the pool any more. False
  // (logged) before Shutdown or on a worker, which cannot join itself.
  [[nodiscard]] bool JoinWorkers();

  // Worker threads are created with this stack size (0: the process default).
  void set_worker_stack_size_for_testing(size_t size) { worker_stack_size_ = size; }
  size_t worker_count_for_testing() const;

 protected:
  ~SequencedWorkerPool() override;
  void OnDestruct() const override;

 private:
  friend class Worker;

  struct SequencedTask {
    SequencedTask();
    ~SequencedTask();
    SequencedTask(SequencedTask&& other);
    SequencedTask& operator=(SequencedTask&& other);
    Births* birth_tally;
    uint32_t time_posted;
    uint32_t sequence_token_id;
    int32_t trace_id;
    int64_t sequence_task_number;
    WorkerShutdown shutdown_behavior;
    Location posted_from;
    mutable Closure task;
    TimeTicks time_to_run;
  };
  struct SequencedTaskLess {
    bool operator()(const SequencedTask& a, const SequencedTask& b) const;
  };
  enum GetWorkStatus { GET_WORK_FOUND, GET_WORK_NOT_FOUND, GET_WORK_WAIT };

  // The worker thread's life; returns when the pool shuts down.
  void ThreadLoop(Worker* worker);
  GetWorkStatus GetWork(SequencedTask* task, TimeDelta* wait_time,
                        std::vector<SequencedTask>* delete_these);
  // Destroys dropped tasks outside the lock, each seeing its own sequence as current.
  void DeleteWithoutLock(Worker* worker, std::vector<SequencedTask>* delete_these);
  void RunTask(Worker* worker, SequencedTask* task);
  bool IsSequenceTokenRunnable(uint32_t id) const;
  // Under the lock: reserves the number of a worker to create (0: none).
  int PrepareToStartAdditionalThreadIfHelpful();
  void FinishStartingAdditionalThread(int thread_number);
  bool CanShutdown() const;
  bool IsWorker(DWORD thread_id) const;

  const scoped_refptr<SequencedTaskRunner> constructor_task_runner_;

  mutable Lock lock_;
  CONDITION_VARIABLE has_work_cv_;
  CONDITION_VARIABLE can_shutdown_cv_;
  const size_t max_threads_;
  const std::string thread_name_prefix_;
  std::map<std::string, uint32_t> named_sequence_tokens_;
  std::map<DWORD, std::unique_ptr<Worker>> threads_;
  bool thread_being_created_ = false;
  size_t waiting_thread_count_ = 0;
  size_t blocking_shutdown_thread_count_ = 0;
  std::set<SequencedTask, SequencedTaskLess> pending_tasks_;
  int64_t next_sequence_task_number_ = 0;
  size_t blocking_shutdown_pending_task_count_ = 0;
  std::set<uint32_t> current_sequences_;
  int32_t trace_id_ = 0;
  bool shutdown_called_ = false;
  int32_t max_blocking_tasks_after_shutdown_ = 0;
  size_t worker_stack_size_ = 0;
};

}  // namespace base

#endif  // BASE_THREADING_SEQUENCED_WORKER_POOL_H_
