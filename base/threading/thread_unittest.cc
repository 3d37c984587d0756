#include "base/threading/thread.h"

#include <objbase.h>

#include <vector>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "base/synchronization/sync_event.h"
#include "base/threading/plain_thread.h"
#include "base/threading/thread_name_registry.h"

namespace base {
namespace {

void Append(std::vector<int>* order, int value) {
  order->push_back(value);
}

void SignalEvent(SyncEvent* event) {
  event->Signal();
}

TEST(ThreadTest, RunsTasksPostedBeforeItRunsThenStopsOnce) {
  std::vector<int> order;
  Thread thread("Package fetcher worker");
  EXPECT_FALSE(thread.GetTaskRunner());
  thread.Stop();  // never started: returns at once

  ASSERT_TRUE(thread.Start());
  scoped_refptr<SequencedTaskRunner> runner = thread.GetTaskRunner();
  ASSERT_TRUE(runner);
  for (int i = 0; i < 5; ++i)
    runner->PostTask(FROM_HERE, Bind(&Append, &order, i));
  thread.Stop();  // queued tasks run before the thread ends
  EXPECT_EQ(std::vector<int>({0, 1, 2, 3, 4}), order);
  EXPECT_FALSE(thread.GetTaskRunner());
  EXPECT_FALSE(runner->PostTask(FROM_HERE, Bind(&Append, &order, 5)));
  thread.Stop();
  EXPECT_EQ(5u, order.size());
}

TEST(ThreadTest, FailedCreationLeavesTheThreadUnstarted) {
  Thread thread("Installer IPC thread");
  Thread::StartParams params;
  params.stack_size = size_t(1) << 46;  // more address space than the process has
  EXPECT_FALSE(thread.StartWithParams(params));
  EXPECT_FALSE(thread.GetTaskRunner());
  EXPECT_FALSE(thread.WaitUntilThreadStarted());
  thread.Stop();
  // A later start with sane parameters works.
  ASSERT_TRUE(thread.Start());
  EXPECT_TRUE(thread.WaitUntilThreadStarted());
  EXPECT_TRUE(thread.IsRunning());
  thread.Stop();
  EXPECT_FALSE(thread.IsRunning());

  ASSERT_TRUE(thread.Start()) << "started again after a stop";
  SyncEvent ran(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  thread.GetTaskRunner()->PostTask(FROM_HERE, Bind(&SignalEvent, &ran));
  ran.Wait();
}

struct ThreadFacts {
  MessageLoop::Type loop_type = MessageLoop::TYPE_CUSTOM;
  HRESULT com_result = E_FAIL;
  std::string name;
};

void ReadFacts(ThreadFacts* facts) {
  facts->loop_type = MessageLoop::Current()->type();
  facts->name = ThreadNameRegistry::Instance()->GetName(GetCurrentThreadId());
  // Asking again for the apartment the thread already has answers S_FALSE; another
  // apartment is refused; none yet answers S_OK.
  facts->com_result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(facts->com_result))
    CoUninitialize();
}

TEST(ThreadTest, ComModeChoosesLoopAndApartment) {
  struct Case {
    int mode;
    MessageLoop::Type loop_type;
    HRESULT apartment_answer;
  } const kCases[] = {
      {0, MessageLoop::TYPE_DEFAULT, S_OK},
      {1, MessageLoop::TYPE_UI, S_FALSE},
      {2, MessageLoop::TYPE_DEFAULT, RPC_E_CHANGED_MODE},
      {3, MessageLoop::TYPE_IO, S_OK},  // an I/O loop asked for by the parameters
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.mode);
    Thread thread("GsTaskThread");
    if (c.mode == 1)
      thread.init_com_with_sta();
    if (c.mode == 2)
      thread.init_com_with_mta();
    Thread::StartParams params;
    params.message_loop_type = MessageLoop::TYPE_IO;
    ASSERT_TRUE(c.mode == 3 ? thread.StartWithParams(params) : thread.Start());
    ThreadFacts facts;
    thread.GetTaskRunner()->PostTask(FROM_HERE, Bind(&ReadFacts, &facts));
    thread.Stop();
    EXPECT_EQ(c.loop_type, facts.loop_type);
    EXPECT_EQ(c.apartment_answer, facts.com_result);
    EXPECT_EQ("GsTaskThread", facts.name);
  }
}

class RecordingPlainThread : public PlainThread {
 public:
  explicit RecordingPlainThread(size_t stack_size)
      : PlainThread("Wininet Termination", stack_size),
        release(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED) {}
  SyncEvent release;

 private:
  // Held until released, so that the thread is still registered under its name.
  void Run() override { release.Wait(); }
};

TEST(PlainThreadTest, NamesItselfWithItsIdBeforeStartReturns) {
  RecordingPlainThread thread(0);
  ASSERT_TRUE(thread.Start());
  EXPECT_EQ("Wininet Termination/" + std::to_string(thread.thread_id()),
            ThreadNameRegistry::Instance()->GetName(thread.thread_id()));
  thread.release.Signal();
  thread.Join();
  EXPECT_TRUE(thread.HasBeenJoined());
}

TEST(PlainThreadTest, FailedCreationReturnsInsteadOfWaiting) {
  RecordingPlainThread thread(size_t(1) << 46);
  EXPECT_FALSE(thread.Start());
  thread.Join();  // nothing to join
  EXPECT_FALSE(thread.HasBeenJoined());
}

}  // namespace
}  // namespace base
