#include "base/threading/worker_pool.h"

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/synchronization/sync_event.h"

namespace base {
namespace {

struct Facts {
  DWORD task_thread = 0;
  bool task_saw_flag = false;
  DWORD reply_thread = 0;
  bool reply_after_task = false;
};

void RecordTask(Facts* facts) {
  facts->task_thread = GetCurrentThreadId();
  facts->task_saw_flag = WorkerPool::RunsTasksOnCurrentThread();
}

void RecordReply(Facts* facts, RunLoop* run_loop) {
  facts->reply_thread = GetCurrentThreadId();
  facts->reply_after_task = facts->task_thread != 0;
  run_loop->Quit();
}

TEST(WorkerPoolTest, TaskRunsOnThePoolAndReplyOnTheOriginThread) {
  MessageLoop loop;
  RunLoop run_loop;
  Facts facts;
  ASSERT_TRUE(WorkerPool::PostTaskAndReply(FROM_HERE, Bind(&RecordTask, &facts),
                                           Bind(&RecordReply, &facts, &run_loop), false));
  run_loop.Run();
  EXPECT_NE(GetCurrentThreadId(), facts.task_thread);
  EXPECT_TRUE(facts.task_saw_flag);
  EXPECT_EQ(GetCurrentThreadId(), facts.reply_thread);
  EXPECT_TRUE(facts.reply_after_task);
  EXPECT_FALSE(WorkerPool::RunsTasksOnCurrentThread());
}

ULONG g_last_flags = 0xFFFFFFFF;

BOOL WINAPI RecordFlagsAndQueue(LPTHREAD_START_ROUTINE function, PVOID context, ULONG flags) {
  g_last_flags = flags;
  return QueueUserWorkItem(function, context, flags);
}

BOOL WINAPI RefuseWorkItem(LPTHREAD_START_ROUTINE, PVOID, ULONG) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return FALSE;
}

void SignalEvent(SyncEvent* event) {
  event->Signal();
}

TEST(WorkerPoolTest, SlowTasksAskForALongFunction) {
  WorkerPool::SetQueueUserWorkItemFunctionForTesting(&RecordFlagsAndQueue);
  struct Case {
    bool slow;
    ULONG flags;
  } const kCases[] = {{true, WT_EXECUTELONGFUNCTION}, {false, WT_EXECUTEDEFAULT}};
  for (const Case& c : kCases) {
    SyncEvent ran(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
    ASSERT_TRUE(QueueWorkItem(FROM_HERE, Bind(&SignalEvent, &ran), c.slow));
    ran.Wait();
    EXPECT_EQ(c.flags, g_last_flags);
  }
  WorkerPool::SetQueueUserWorkItemFunctionForTesting(nullptr);
}

struct Probe : RefCountedThreadSafe<Probe> {
  explicit Probe(int* destroyed) : destroyed(destroyed) {}
  int runs = 0;
  int* destroyed;

 private:
  friend class RefCountedThreadSafe<Probe>;
  ~Probe() { ++*destroyed; }
};

void RunProbe(scoped_refptr<Probe> probe) {
  ++probe->runs;
}

TEST(WorkerPoolTest, RefusedWorkItemReleasesTaskAndReplyUnrun) {
  MessageLoop loop;
  WorkerPool::SetQueueUserWorkItemFunctionForTesting(&RefuseWorkItem);
  int destroyed = 0;
  Probe* task_probe = new Probe(&destroyed);
  Probe* reply_probe = new Probe(&destroyed);
  task_probe->AddRef();
  reply_probe->AddRef();
  EXPECT_FALSE(QueueWorkItem(FROM_HERE, Bind(&RunProbe, scoped_refptr<Probe>(task_probe)),
                             false));
  EXPECT_FALSE(WorkerPool::PostTaskAndReply(
      FROM_HERE, Bind(&RunProbe, scoped_refptr<Probe>(task_probe)),
      Bind(&RunProbe, scoped_refptr<Probe>(reply_probe)), true));
  WorkerPool::SetQueueUserWorkItemFunctionForTesting(nullptr);
  EXPECT_EQ(0, task_probe->runs);
  EXPECT_EQ(0, reply_probe->runs);
  task_probe->Release();
  reply_probe->Release();
  EXPECT_EQ(2, destroyed) << "nothing kept a reference";
}

}  // namespace
}  // namespace base
