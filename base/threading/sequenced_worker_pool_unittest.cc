#include "base/threading/sequenced_worker_pool.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/notifying_pump_test_util.h"
#include "base/run_loop.h"
#include "base/synchronization/sync_event.h"
#include "base/threading/sequenced_task_runner_handle.h"
#include "base/win/scoped_handle.h"

namespace base {
namespace {

typedef SequencedWorkerPool Pool;

// Counts runs and destructions of the tasks that carry it.
struct TaskProbe : RefCountedThreadSafe<TaskProbe> {
  std::atomic<int> runs{0};
  std::atomic<int>* destroyed;
  explicit TaskProbe(std::atomic<int>* destroyed) : destroyed(destroyed) {}

 private:
  friend class RefCountedThreadSafe<TaskProbe>;
  ~TaskProbe() { ++*destroyed; }
};

void RunProbe(scoped_refptr<TaskProbe> probe) {
  ++probe->runs;
}

void SignalAndWait(SyncEvent* started, SyncEvent* release) {
  started->Signal();
  release->Wait();
}

class SequencedWorkerPoolTest : public testing::Test {
 protected:
  // The pool's creating thread needs a loop.
  MessageLoop loop_;
};

struct OrderRecorder {
  std::vector<int> order;
  std::atomic<int> in_flight{0};
  bool overlapped = false;
};

void Record(OrderRecorder* recorder, int value) {
  if (++recorder->in_flight != 1)
    recorder->overlapped = true;
  recorder->order.push_back(value);
  SwitchToThread();  // give another worker the chance to overlap
  --recorder->in_flight;
}

TEST_F(SequencedWorkerPoolTest, SequenceRunsInPostingOrderOneAtATime) {
  scoped_refptr<Pool> pool = new Pool(2, "PrefsTaskPool");
  Pool::SequenceToken token = pool->GetNamedSequenceToken("json_pref_store-a");
  EXPECT_TRUE(token.Equals(pool->GetNamedSequenceToken("json_pref_store-a")));
  EXPECT_FALSE(token.Equals(pool->GetNamedSequenceToken("json_pref_store-b")));
  scoped_refptr<SequencedTaskRunner> runner =
      pool->GetSequencedTaskRunner(token, Pool::BLOCK_SHUTDOWN);
  OrderRecorder recorder;
  std::vector<int> expected;
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(runner->PostTask(FROM_HERE, Bind(&Record, &recorder, i)));
    expected.push_back(i);
  }
  pool->Shutdown();  // every block-shutdown task has run when it returns
  EXPECT_EQ(expected, recorder.order);
  EXPECT_FALSE(recorder.overlapped);
  EXPECT_LE(pool->worker_count_for_testing(), 2u);
}

TEST_F(SequencedWorkerPoolTest, UnsequencedTasksRunInParallelOnAtMostTheAllowedWorkers) {
  scoped_refptr<Pool> pool = new Pool(2, "PrefsTaskPool");
  SyncEvent first_started(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  SyncEvent second_started(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  SyncEvent release(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&SignalAndWait, &first_started, &release)));
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&SignalAndWait, &second_started, &release)));
  // Both block at once, so they run on two workers.
  first_started.Wait();
  second_started.Wait();
  std::atomic<int> destroyed{0};
  scoped_refptr<TaskProbe> probe = new TaskProbe(&destroyed);
  for (int i = 0; i < 6; ++i)
    ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&RunProbe, probe)));
  EXPECT_EQ(2u, pool->worker_count_for_testing());
  release.Signal();
  pool->Shutdown();
  EXPECT_EQ(6, probe->runs);
  EXPECT_EQ(2u, pool->worker_count_for_testing());
}

// Waits until Shutdown, running on |shutdown_thread|, has begun: from then on posts fail.
void WaitForShutdownToBegin(Pool* pool) {
  while (pool->PostTaskWithShutdownBehavior(Pool::SequenceToken(), Pool::CONTINUE_ON_SHUTDOWN,
                                            FROM_HERE, Bind([] {}), TimeDelta())) {
    SwitchToThread();
  }
}

TEST_F(SequencedWorkerPoolTest, ShutdownWaitsOnlyForBlockShutdownTasks) {
  scoped_refptr<Pool> pool = new Pool(1, "PrefsTaskPool");
  SyncEvent started(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  SyncEvent release(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&SignalAndWait, &started, &release)));
  started.Wait();  // the only worker is busy: the rest stays pending

  std::atomic<int> destroyed{0};
  scoped_refptr<TaskProbe> block = new TaskProbe(&destroyed);
  scoped_refptr<TaskProbe> skip = new TaskProbe(&destroyed);
  scoped_refptr<TaskProbe> cont = new TaskProbe(&destroyed);
  // Dropped tasks come first in the pending set, so the worker destroys them before it
  // runs the block-shutdown task that Shutdown waits for.
  Pool::SequenceToken token = pool->GetNamedSequenceToken("s");
  ASSERT_TRUE(pool->GetSequencedTaskRunner(token, Pool::SKIP_ON_SHUTDOWN)
                  ->PostTask(FROM_HERE, Bind(&RunProbe, skip)));
  ASSERT_TRUE(pool->PostTaskWithShutdownBehavior(Pool::SequenceToken(),
                                                 Pool::CONTINUE_ON_SHUTDOWN, FROM_HERE,
                                                 Bind(&RunProbe, cont), TimeDelta()));
  ASSERT_TRUE(pool->GetSequencedTaskRunner(token, Pool::BLOCK_SHUTDOWN)
                  ->PostTask(FROM_HERE, Bind(&RunProbe, block)));

  std::thread shutdown_thread([&pool] { pool->Shutdown(); });
  WaitForShutdownToBegin(pool.get());
  release.Signal();
  shutdown_thread.join();

  EXPECT_EQ(1, block->runs);
  EXPECT_EQ(0, skip->runs);
  EXPECT_EQ(0, cont->runs);
  block = skip = cont = nullptr;
  EXPECT_EQ(3, destroyed.load()) << "dropped tasks are destroyed unrun";

  // Refused after shutdown, whatever the behaviour; a second Shutdown returns at once.
  scoped_refptr<TaskProbe> late = new TaskProbe(&destroyed);
  EXPECT_FALSE(pool->PostTask(FROM_HERE, Bind(&RunProbe, late)));
  EXPECT_FALSE(pool->GetSequencedTaskRunner(token, Pool::BLOCK_SHUTDOWN)
                   ->PostTask(FROM_HERE, Bind(&RunProbe, late)));
  pool->Shutdown();
  late = nullptr;
  EXPECT_EQ(4, destroyed.load());
}

void RecordTime(TimeTicks* ran_at, SyncEvent* done) {
  *ran_at = TimeTicks::Now();
  done->Signal();
}

TEST_F(SequencedWorkerPoolTest, DelayedTaskRunsNoEarlierThanDue) {
  scoped_refptr<Pool> pool = new Pool(2, "PrefsTaskPool");
  TimeTicks ran_at;
  SyncEvent done(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  const TimeDelta kDelay = TimeDelta::FromMilliseconds(25);
  TimeTicks posted = TimeTicks::Now();
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind([] {})));
  ASSERT_TRUE(pool->PostDelayedTask(FROM_HERE, Bind(&RecordTime, &ran_at, &done), kDelay));
  done.Wait();
  EXPECT_GE(ran_at - posted, kDelay);
  pool->Shutdown();
}

void CheckSequence(Pool* pool, Pool::SequenceToken own, Pool::SequenceToken other, bool* ran) {
  EXPECT_TRUE(pool->IsRunningSequenceOnCurrentThread(own));
  EXPECT_FALSE(pool->IsRunningSequenceOnCurrentThread(other));
  EXPECT_TRUE(pool->RunsTasksOnCurrentThread());
  EXPECT_TRUE(CurrentSequenceTaskRunner::Get()->RunsTasksOnCurrentThread());
  *ran = true;
}

TEST_F(SequencedWorkerPoolTest, TasksKnowTheirSequence) {
  scoped_refptr<Pool> pool = new Pool(2, "PrefsTaskPool");
  Pool::SequenceToken own = pool->GetNamedSequenceToken("own");
  Pool::SequenceToken other = pool->GetNamedSequenceToken("other");
  scoped_refptr<SequencedTaskRunner> runner =
      pool->GetSequencedTaskRunner(own, Pool::BLOCK_SHUTDOWN);
  bool ran = false;
  ASSERT_TRUE(runner->PostTask(FROM_HERE, Bind(&CheckSequence, pool.get(), own, other, &ran)));
  pool->Shutdown();
  EXPECT_TRUE(ran);
  // Not a worker.
  EXPECT_FALSE(pool->IsRunningSequenceOnCurrentThread(own));
  EXPECT_FALSE(pool->RunsTasksOnCurrentThread());
  EXPECT_FALSE(runner->RunsTasksOnCurrentThread());
}

TEST_F(SequencedWorkerPoolTest, ShutdownReturnsWhenNoWorkerCanBeCreated) {
  scoped_refptr<Pool> pool = new Pool(2, "PrefsTaskPool");
  pool->set_worker_stack_size_for_testing(size_t(1) << 46);
  std::atomic<int> destroyed{0};
  scoped_refptr<TaskProbe> probe = new TaskProbe(&destroyed);
  EXPECT_TRUE(pool->PostTask(FROM_HERE, Bind(&RunProbe, probe)));
  EXPECT_EQ(0u, pool->worker_count_for_testing());
  pool->Shutdown();  // would wait forever for a worker that never comes
  EXPECT_EQ(0, probe->runs);
}

// Joining waits for the end of every worker, even one whose task goes on past shutdown,
// and leaves the caller with the only reference; it is refused before shutdown and on a
// worker, which cannot wait for its own end.
TEST_F(SequencedWorkerPoolTest, JoinWorkersEndsEveryWorkerOnlyAfterShutdownAndFromOutside) {
  scoped_refptr<Pool> pool = new Pool(2, "PrefsTaskPool");
  SyncEvent started(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  SyncEvent shut_down(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  ScopedHandle worker;
  bool joined_on_worker = true;
  ASSERT_TRUE(pool->PostTaskWithShutdownBehavior(
      Pool::SequenceToken(), Pool::CONTINUE_ON_SHUTDOWN, FROM_HERE, Bind([&] {
        worker.Set(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
        started.Signal();
        shut_down.Wait();
        joined_on_worker = pool->JoinWorkers();
      }),
      TimeDelta()));
  started.Wait();
  EXPECT_FALSE(pool->JoinWorkers());
  pool->Shutdown();  // does not wait for a continue-on-shutdown task
  shut_down.Signal();
  EXPECT_TRUE(pool->JoinWorkers());
  EXPECT_FALSE(joined_on_worker);
  ASSERT_TRUE(worker.IsValid());
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker.Get(), 0));
  EXPECT_TRUE(pool->HasOneRef());
}

// Records the thread that deletes it.
class RecordingPool : public Pool {
 public:
  explicit RecordingPool(DWORD* deleted_on) : Pool(1, "PrefsTaskPool"), deleted_on_(deleted_on) {}

 private:
  ~RecordingPool() override { *deleted_on_ = GetCurrentThreadId(); }
  DWORD* deleted_on_;
};

TEST(SequencedWorkerPoolDeletionTest, LastReleaseOnAWorkerDeletesOnTheCreatingThread) {
  SyncEvent woken(SyncEvent::AUTOMATIC, SyncEvent::NOT_SIGNALED);
  std::unique_ptr<MessageLoop> loop = MakeLoopWithNotifyingPump(&woken);
  DWORD deleted_on = 0;
  Pool* pool = new RecordingPool(&deleted_on);
  pool->AddRef();
  SyncEvent started(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  SyncEvent release(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  ASSERT_TRUE(pool->PostTask(FROM_HERE, Bind(&SignalAndWait, &started, &release)));
  started.Wait();
  std::thread shutdown_thread([pool] { pool->Shutdown(); });
  WaitForShutdownToBegin(pool);
  pool->Release();  // the worker now holds the last reference
  release.Signal();
  shutdown_thread.join();
  woken.Wait();  // the worker posted the deletion here
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ(GetCurrentThreadId(), deleted_on);
}

}  // namespace
}  // namespace base
