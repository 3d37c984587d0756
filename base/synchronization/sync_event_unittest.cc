#include "base/synchronization/sync_event.h"

#include <gtest/gtest.h>

#include "base/threading/os_thread.h"
#include "base/time/time.h"

namespace base {
namespace {

// Signals an event from another thread once started.
class Signaller : public OsThread::Delegate {
 public:
  explicit Signaller(SyncEvent* event) : event_(event) {}
  void ThreadMain() override { event_->Signal(); }

 private:
  SyncEvent* event_;
};

TEST(SyncEventTest, TimedWaitsNeverReturnBeforeTheirTime) {
  const TimeDelta kDelays[] = {TimeDelta::FromMicroseconds(400), TimeDelta::FromMilliseconds(1),
                               TimeDelta::FromMicroseconds(1500),
                               TimeDelta::FromMilliseconds(16)};
  SyncEvent event(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  for (TimeDelta delay : kDelays) {
    SCOPED_TRACE(delay.InMicroseconds());
    TimeTicks start = TimeTicks::Now();
    EXPECT_FALSE(event.TimedWait(delay));
    EXPECT_GE(TimeTicks::Now() - start, delay);

    start = TimeTicks::Now();
    EXPECT_FALSE(event.TimedWaitUntil(start + delay));
    EXPECT_GE(TimeTicks::Now() - start, delay);
  }
}

TEST(SyncEventTest, ZeroAndPastWaitsOnlyPollAndResetPolicies) {
  SyncEvent manual(SyncEvent::MANUAL, SyncEvent::NOT_SIGNALED);
  EXPECT_FALSE(manual.TimedWait(TimeDelta()));
  EXPECT_FALSE(manual.TimedWaitUntil(TimeTicks()));
  EXPECT_FALSE(manual.TimedWaitUntil(TimeTicks::Now() - TimeDelta::FromSeconds(1)));
  manual.Signal();
  EXPECT_TRUE(manual.TimedWait(TimeDelta()));
  manual.Wait();
  EXPECT_TRUE(manual.TimedWaitUntil(TimeTicks())) << "stays signalled until Reset";
  EXPECT_TRUE(manual.TimedWaitUntil(TimeTicks::Now() - TimeDelta::FromSeconds(1)));
  manual.Reset();
  EXPECT_FALSE(manual.TimedWait(TimeDelta()));

  SyncEvent automatic(SyncEvent::AUTOMATIC, SyncEvent::SIGNALED);
  EXPECT_TRUE(automatic.TimedWait(TimeDelta()));
  EXPECT_FALSE(automatic.TimedWait(TimeDelta())) << "one waiter resets it";
}

TEST(SyncEventTest, SignalFromAnotherThreadEndsWaits) {
  // The maximal delta waits without limit, so only the signal can end it.
  const TimeDelta kDeltas[] = {TimeDelta::Max(), TimeDelta::FromSeconds(60)};
  for (TimeDelta delta : kDeltas) {
    SyncEvent event(SyncEvent::AUTOMATIC, SyncEvent::NOT_SIGNALED);
    Signaller signaller(&event);
    HANDLE thread;
    ASSERT_TRUE(OsThread::Create(0, &signaller, &thread, OsThread::PRIORITY_NORMAL));
    EXPECT_TRUE(event.TimedWait(delta));
    OsThread::Join(thread);
  }
}

}  // namespace
}  // namespace base
