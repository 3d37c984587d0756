#include "desktop/windows/installer/service/installer_pref_store.h"

#include <windows.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/at_exit.h"
#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/message_loop/message_loop.h"
#include "base/synchronization/sync_event.h"
#include "base/test/log_capture_test_util.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "components/prefs/json_pref_store.h"

namespace installer {
namespace {

// Every test has its own exit-callback stack, so each one starts without a pool.
class InstallerPrefStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(scratch_.path().empty()); }

  base::ScratchDir scratch_;
};

TEST_F(InstallerPrefStoreTest, ThreadsAskingAtOnceShareOnePool) {
  base::ExitCallbackStack exit_callbacks;
  std::vector<PrefsTaskPoolHolder*> holders(4, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < holders.size(); ++i) {
    threads.emplace_back([&holders, i] { holders[i] = GetPrefsTaskPool(); });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_TRUE(holders[0]);
  EXPECT_TRUE(holders[0]->pool);
  for (PrefsTaskPoolHolder* holder : holders) EXPECT_EQ(holders[0], holder);
  EXPECT_EQ(holders[0], GetPrefsTaskPool());
}

TEST_F(InstallerPrefStoreTest, StoresReadAtCreation) {
  base::ExitCallbackStack exit_callbacks;
  base::MessageLoop loop;
  const base::FilePath existing = scratch_.path().Append(L"installer_prefs.json");
  ASSERT_TRUE(base::WriteTextFile(existing, R"({"language": "de"})"));
  base::scoped_refptr<JsonPrefStore> store =
      CreateInstallerPrefStore(GetPrefsTaskPool(), existing);
  EXPECT_TRUE(store->IsInitialized());
  const base::Value* value = nullptr;
  ASSERT_TRUE(store->GetValue("language", &value));
  EXPECT_EQ("de", value->string_value());

  base::scoped_refptr<JsonPrefStore> missing = CreateInstallerPrefStore(
      GetPrefsTaskPool(), scratch_.path().Append(L"installer_prefs_include.json"));
  EXPECT_TRUE(missing->IsInitialized());
  EXPECT_TRUE(missing->CopyValues()->empty());
}

// Writes of one file keep their order on its sequence; two names, two sequences.
TEST_F(InstallerPrefStoreTest, OneSequencePerFile) {
  base::ExitCallbackStack exit_callbacks;
  base::SequencedWorkerPool* pool = GetPrefsTaskPool()->pool.get();
  const base::FilePath a = scratch_.path().Append(L"a.json");
  const base::FilePath b = scratch_.path().Append(L"b.json");
  using Runner = base::scoped_refptr<base::SequencedTaskRunner>;
  Runner a1 = JsonPrefStore::GetTaskRunnerForFile(a, pool);
  Runner a2 = JsonPrefStore::GetTaskRunnerForFile(a, pool);
  Runner b1 = JsonPrefStore::GetTaskRunnerForFile(b, pool);
  // A task on one runner of a file holds up the other runner of that file only.
  base::SyncEvent release(base::SyncEvent::MANUAL, base::SyncEvent::NOT_SIGNALED);
  base::SyncEvent b_ran(base::SyncEvent::MANUAL, base::SyncEvent::NOT_SIGNALED);
  std::vector<int> order;
  a1->PostTask(FROM_HERE, base::Bind([&] {
                 release.Wait();
                 order.push_back(1);
               }));
  a2->PostTask(FROM_HERE, base::Bind([&] { order.push_back(2); }));
  b1->PostTask(FROM_HERE, base::Bind([&] { b_ran.Signal(); }));
  b_ran.Wait();
  EXPECT_TRUE(order.empty());
  release.Signal();
  pool->Shutdown();
  EXPECT_EQ((std::vector<int>{1, 2}), order);
}

// The exit callbacks do not return before a store's last write is on disk.
TEST_F(InstallerPrefStoreTest, PendingWriteCompletesBeforeShutdownReturns) {
  const base::FilePath path = scratch_.path().Append(L"installer_prefs.json");
  {
    base::ExitCallbackStack exit_callbacks;
    base::MessageLoop loop;
    PrefsTaskPoolHolder* holder = GetPrefsTaskPool();
    base::scoped_refptr<JsonPrefStore> store = CreateInstallerPrefStore(holder, path);
    store->SetValue("stage", std::make_unique<base::Value>("done"), 0);
    store = nullptr;  // posts the write to the pool
  }
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(path, &text));
  EXPECT_EQ(R"({"stage":"done"})", text);
}

// The pool is deleted by the exit callbacks themselves, after its loop is gone: its workers
// have ended and none of them had to hand the deletion to a loop.
TEST_F(InstallerPrefStoreTest, ExitDeletesThePoolAndEndsItsWorkers) {
  base::ScopedLogCapture log;
  base::ScopedHandle worker;
  {
    base::ExitCallbackStack exit_callbacks;
    base::MessageLoop loop;
    base::scoped_refptr<JsonPrefStore> store =
        CreateInstallerPrefStore(GetPrefsTaskPool(), scratch_.path().Append(L"p.json"));
    store->SetValue("stage", std::make_unique<base::Value>("done"), 0);
    CommitInstallerPrefStore(GetPrefsTaskPool(), store.get(), scratch_.path().Append(L"p.json"));
    base::SyncEvent taken(base::SyncEvent::MANUAL, base::SyncEvent::NOT_SIGNALED);
    ASSERT_TRUE(GetPrefsTaskPool()->pool->PostTask(FROM_HERE, base::Bind([&] {
      worker.Set(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
      taken.Signal();
    })));
    taken.Wait();
  }
  ASSERT_TRUE(worker.IsValid());
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker.Get(), 60000));
  EXPECT_TRUE(log.LinesStartingWith("worker pool released").empty());
}

// A worker still holding the pool when the exit begins (its task goes on past shutdown)
// ends before the pool is deleted, however long it holds on: the exit joins it rather
// than give up after a while and leave the deletion to a worker without a loop.
TEST_F(InstallerPrefStoreTest, ExitWaitsForAWorkerHoldingOnPastShutdown) {
  using Event = base::SyncEvent;
  Event joining(Event::MANUAL, Event::NOT_SIGNALED);
  base::ScopedLogCapture log;
  log.SetEventOnLineStartingWith("joining ", joining.handle());
  Event exit_returned(Event::MANUAL, Event::NOT_SIGNALED);
  Event release(Event::MANUAL, Event::NOT_SIGNALED);
  base::ScopedHandle worker;
  std::thread exiting([&] {
    {
      base::ExitCallbackStack exit_callbacks;
      base::MessageLoop loop;
      Event taken(Event::MANUAL, Event::NOT_SIGNALED);
      EXPECT_TRUE(GetPrefsTaskPool()->pool->PostTaskWithShutdownBehavior(
          base::SequencedWorkerPool::SequenceToken(),
          base::SequencedWorkerPool::CONTINUE_ON_SHUTDOWN, FROM_HERE, base::Bind([&] {
            worker.Set(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
            taken.Signal();
            release.Wait();
          }),
          base::TimeDelta()));
      taken.Wait();
    }
    exit_returned.Signal();
  });
  // The worker is let go only once the exit waits for it, or has returned without it.
  HANDLE first[] = {joining.handle(), exit_returned.handle()};
  DWORD which = WaitForMultipleObjects(2, first, FALSE, INFINITE);
  release.Signal();
  exiting.join();
  EXPECT_EQ(WAIT_OBJECT_0, which) << "the exit returned while a worker held the pool";
  ASSERT_TRUE(worker.IsValid());
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker.Get(), 0));
  EXPECT_TRUE(log.LinesStartingWith("worker pool released").empty());
}

}  // namespace
}  // namespace installer
