#include "base/win/object_watcher.h"

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/notifying_pump_test_util.h"
#include "base/run_loop.h"
#include "base/synchronization/sync_event.h"

namespace base {
namespace {

class RecordingDelegate : public ObjectWatcher::Delegate {
 public:
  void OnObjectSignaled(HANDLE object) override {
    ++calls;
    last_object = object;
    thread_id = GetCurrentThreadId();
    if (action)
      action();
    if (run_loop && calls == quit_after_calls)
      run_loop->Quit();
  }
  std::function<void()> action;
  int quit_after_calls = 1;
  int calls = 0;
  HANDLE last_object = nullptr;
  DWORD thread_id = 0;
  RunLoop* run_loop = nullptr;
};

class ObjectWatcherTest : public testing::Test {
 protected:
  ObjectWatcherTest()
      : woken_(SyncEvent::AUTOMATIC, SyncEvent::NOT_SIGNALED),
        loop_(MakeLoopWithNotifyingPump(&woken_)),
        event_(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED),
        other_event_(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED) {}

  void RunUntilIdle() {
    RunLoop run_loop;
    run_loop.QuitWhenIdle();
    run_loop.Run();
  }

  SyncEvent woken_;
  std::unique_ptr<MessageLoop> loop_;
  SyncEvent event_;
  SyncEvent other_event_;
  RecordingDelegate delegate_;
};

TEST_F(ObjectWatcherTest, SignalReachesTheDelegateOnTheOriginThreadOnce) {
  ObjectWatcher watcher;
  event_.Signal();  // already signalled: the wait fires at once
  ASSERT_TRUE(watcher.StartWatching(event_.handle(), &delegate_));
  EXPECT_TRUE(watcher.IsWatching());
  RunLoop run_loop;
  delegate_.run_loop = &run_loop;
  run_loop.Run();
  EXPECT_EQ(1, delegate_.calls);
  EXPECT_EQ(event_.handle(), delegate_.last_object);
  EXPECT_EQ(GetCurrentThreadId(), delegate_.thread_id);
  EXPECT_FALSE(watcher.IsWatching());
  EXPECT_FALSE(watcher.StopWatching());
}

TEST_F(ObjectWatcherTest, DestroyedWatcherNeverCallsItsDelegate) {
  std::unique_ptr<ObjectWatcher> watcher(new ObjectWatcher);
  event_.Signal();
  ASSERT_TRUE(watcher->StartWatching(event_.handle(), &delegate_));
  woken_.Wait();  // the wait fired and its callback is queued
  watcher.reset();
  RunUntilIdle();
  EXPECT_EQ(0, delegate_.calls);
}

TEST_F(ObjectWatcherTest, SecondWatchReplacesTheFirst) {
  ObjectWatcher watcher;
  ASSERT_TRUE(watcher.StartWatching(event_.handle(), &delegate_));
  ASSERT_TRUE(watcher.StartWatching(other_event_.handle(), &delegate_));
  EXPECT_EQ(other_event_.handle(), watcher.GetWatchedObject());
  // The first object's wait is gone: signalling it posts nothing.
  event_.Signal();
  EXPECT_FALSE(woken_.TimedWait(TimeDelta::FromMilliseconds(100)));

  other_event_.Signal();
  RunLoop run_loop;
  delegate_.run_loop = &run_loop;
  run_loop.Run();
  RunUntilIdle();
  EXPECT_EQ(1, delegate_.calls);
  EXPECT_EQ(other_event_.handle(), delegate_.last_object);
}

TEST_F(ObjectWatcherTest, GoneLoopRefusesTheCallback) {
  ObjectWatcher watcher;
  ASSERT_TRUE(watcher.StartWatching(event_.handle(), &delegate_));
  loop_.reset();
  event_.Signal();
  // Waits for a callback that may be running; the watch was still registered.
  EXPECT_TRUE(watcher.StopWatching());
  EXPECT_EQ(0, delegate_.calls);
}

TEST_F(ObjectWatcherTest, DelegateMayWatchAgain) {
  ObjectWatcher watcher;
  RunLoop run_loop;
  delegate_.run_loop = &run_loop;
  delegate_.quit_after_calls = 2;
  delegate_.action = [&] {
    if (delegate_.calls == 1) {
      EXPECT_TRUE(watcher.StartWatching(other_event_.handle(), &delegate_));
    }
  };
  event_.Signal();
  other_event_.Signal();
  ASSERT_TRUE(watcher.StartWatching(event_.handle(), &delegate_));
  run_loop.Run();
  EXPECT_EQ(2, delegate_.calls);
  EXPECT_EQ(other_event_.handle(), delegate_.last_object);
}

}  // namespace
}  // namespace base
