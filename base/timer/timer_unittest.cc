#include "base/timer/timer.h"

#include <memory>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"

namespace base {
namespace {

// Forwards to the loop's runner and counts the posts.
class CountingRunner : public SequencedTaskRunner {
 public:
  explicit CountingRunner(scoped_refptr<SequencedTaskRunner> target) : target_(target) {}
  bool PostDelayedTask(const Location& from, Closure task, TimeDelta delay) override {
    ++posts;
    return target_->PostDelayedTask(from, std::move(task), delay);
  }
  bool RunsTasksOnCurrentThread() const override { return target_->RunsTasksOnCurrentThread(); }
  bool PostNonNestableDelayedTask(const Location& from, Closure task, TimeDelta delay) override {
    return PostDelayedTask(from, std::move(task), delay);
  }
  int posts = 0;

 private:
  ~CountingRunner() override = default;
  scoped_refptr<SequencedTaskRunner> target_;
};

struct Fired {
  int count = 0;
  TimeTicks at;
  RunLoop* run_loop = nullptr;
};

void Fire(Fired* fired) {
  ++fired->count;
  fired->at = TimeTicks::Now();
  if (fired->run_loop)
    fired->run_loop->Quit();
}

class TimerTest : public testing::Test {
 protected:
  TimerTest() : runner_(new CountingRunner(loop_.task_runner())) {
    timer_.SetTaskRunner(runner_);
  }

  // Runs the loop for at least |delta|.
  void RunFor(TimeDelta delta) {
    RunLoop run_loop;
    loop_.task_runner()->PostDelayedTask(FROM_HERE, run_loop.QuitClosure(), delta);
    run_loop.Run();
  }

  MessageLoop loop_;
  scoped_refptr<CountingRunner> runner_;
  Timer timer_;
  Fired fired_;
};

TEST_F(TimerTest, LaterRestartReusesThePostedTask) {
  // The restart's delay is far beyond the first one, so the queued task normally fires
  // before the new run time and posts a continuation for the rest.
  const TimeDelta kDelay = TimeDelta::FromMilliseconds(200);
  timer_.Start(FROM_HERE, TimeDelta::FromMilliseconds(20), Bind(&Fire, &fired_));
  TimeTicks restarted = TimeTicks::Now();
  timer_.Start(FROM_HERE, kDelay, Bind(&Fire, &fired_));
  EXPECT_EQ(1, runner_->posts) << "the queued task is kept";
  EXPECT_TRUE(timer_.IsRunning());

  RunLoop run_loop;
  fired_.run_loop = &run_loop;
  run_loop.Run();
  EXPECT_EQ(1, fired_.count);
  EXPECT_GE(fired_.at - restarted, kDelay);
  // A stalled loop may run the first task past the new run time; it then runs the user
  // task itself. Never more than one continuation.
  EXPECT_LE(runner_->posts, 2);
  EXPECT_FALSE(timer_.IsRunning());
}

TEST_F(TimerTest, EarlierRestartAbandonsThePostedTask) {
  timer_.Start(FROM_HERE, TimeDelta::FromMilliseconds(60), Bind(&Fire, &fired_));
  TimeTicks restarted = TimeTicks::Now();
  timer_.Start(FROM_HERE, TimeDelta::FromMilliseconds(5), Bind(&Fire, &fired_));
  EXPECT_EQ(2, runner_->posts);
  RunFor(TimeDelta::FromMilliseconds(80));  // past the abandoned task too
  EXPECT_EQ(1, fired_.count);
  EXPECT_GE(fired_.at - restarted, TimeDelta::FromMilliseconds(5));
}

TEST_F(TimerTest, StoppedOrDestroyedTimerNeverFires) {
  timer_.Start(FROM_HERE, TimeDelta::FromMilliseconds(5), Bind(&Fire, &fired_));
  timer_.Stop();
  EXPECT_FALSE(timer_.IsRunning());
  std::unique_ptr<Timer> doomed(new Timer);
  doomed->Start(FROM_HERE, TimeDelta(), Bind(&Fire, &fired_));
  doomed.reset();
  RunFor(TimeDelta::FromMilliseconds(20));
  EXPECT_EQ(0, fired_.count);
}

struct Probe : RefCountedThreadSafe<Probe> {
  explicit Probe(bool* destroyed) : destroyed(destroyed) {}
  bool* destroyed;

 private:
  friend class RefCountedThreadSafe<Probe>;
  ~Probe() { *destroyed = true; }
};

void Keep(scoped_refptr<Probe>) {}

TEST(TimerLoopTest, GoneLoopStopsTheTimerAndReleasesItsTask) {
  Timer timer;
  bool destroyed = false;
  {
    MessageLoop loop;
    timer.Start(FROM_HERE, TimeDelta::FromSeconds(30),
                Bind(&Keep, scoped_refptr<Probe>(new Probe(&destroyed))));
  }
  EXPECT_FALSE(timer.IsRunning());
  EXPECT_TRUE(destroyed);
}

void DestroyTimer(std::unique_ptr<Timer>* timer, RunLoop* run_loop) {
  timer->reset();
  run_loop->Quit();
}

TEST(TimerLoopTest, ZeroDelayTaskMayDestroyItsTimer) {
  MessageLoop loop;
  RunLoop run_loop;
  std::unique_ptr<Timer> timer(new Timer);
  timer->Start(FROM_HERE, TimeDelta(), Bind(&DestroyTimer, &timer, &run_loop));
  EXPECT_TRUE(timer) << "a zero delay waits for the next turn";
  run_loop.Run();
  EXPECT_FALSE(timer);
}

}  // namespace
}  // namespace base
