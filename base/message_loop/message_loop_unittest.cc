#include "base/message_loop/message_loop.h"

#include <windows.h>

#include <limits.h>

#include <algorithm>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/run_loop.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time.h"

namespace base {
namespace {

void Append(std::vector<int>* order, int value) {
  order->push_back(value);
}

class MessageLoopTypeTest : public testing::TestWithParam<MessageLoop::Type> {};

// Records the delayed run time and sequence number of every task the loop runs, and
// quits |run_loop| after |expected| tasks.
class RunTimeRecorder : public MessageLoop::TaskObserver {
 public:
  RunTimeRecorder(RunLoop* run_loop, size_t expected) : run_loop_(run_loop), expected_(expected) {}
  void WillProcessTask(const PendingTask& task) override {
    runs.push_back({task.delayed_run_time, task.sequence_num});
  }
  void DidProcessTask(const PendingTask&) override {
    if (runs.size() == expected_)
      run_loop_->Quit();
  }
  struct Run {
    TimeTicks delayed_run_time;
    int sequence_num;
  };
  std::vector<Run> runs;

 private:
  RunLoop* run_loop_;
  size_t expected_;
};

TEST_P(MessageLoopTypeTest, DelayedTasksRunByTimeThenPostingOrder) {
  MessageLoop loop(GetParam());
  std::vector<int> order;
  RunLoop run_loop;
  RunTimeRecorder recorder(&run_loop, 5);
  loop.AddTaskObserver(&recorder);
  const scoped_refptr<SequencedTaskRunner>& runner = loop.task_runner();
  // Taken before posting: the delays count from each post.
  const TimeTicks start = TimeTicks::Now();
  runner->PostDelayedTask(FROM_HERE, Bind(&Append, &order, 4), TimeDelta::FromMilliseconds(60));
  runner->PostDelayedTask(FROM_HERE, Bind(&Append, &order, 2), TimeDelta::FromMilliseconds(20));
  runner->PostDelayedTask(FROM_HERE, Bind(&Append, &order, 1), TimeDelta::FromMilliseconds(5));
  runner->PostTask(FROM_HERE, Bind(&Append, &order, 0));
  runner->PostDelayedTask(FROM_HERE, Bind(&Append, &order, 3), TimeDelta::FromMilliseconds(20));
  run_loop.Run();
  loop.RemoveTaskObserver(&recorder);
  EXPECT_GE((TimeTicks::Now() - start).InMilliseconds(), 59);

  // The immediate task first; then the delayed ones by their run time, equal times in
  // posting order. The run times are the ones the posts computed: a poster preempted
  // between two posts may legitimately reorder tasks whose delays differ.
  ASSERT_EQ(5u, recorder.runs.size());
  ASSERT_EQ(5u, order.size());
  EXPECT_EQ(0, order[0]);
  EXPECT_TRUE(recorder.runs[0].delayed_run_time.is_null());
  for (size_t i = 2; i < recorder.runs.size(); ++i) {
    const RunTimeRecorder::Run& before = recorder.runs[i - 1];
    const RunTimeRecorder::Run& after = recorder.runs[i];
    EXPECT_TRUE(before.delayed_run_time < after.delayed_run_time ||
                (before.delayed_run_time == after.delayed_run_time &&
                 before.sequence_num < after.sequence_num))
        << "run " << i;
  }
  // Same delay, posted later: always after.
  EXPECT_LT(std::find(order.begin(), order.end(), 2), std::find(order.begin(), order.end(), 3));
}

// Immediate tasks run in posting order; one posted by a task goes behind the queued ones.
TEST_P(MessageLoopTypeTest, TaskPostedByTaskRunsAfterQueuedTasks) {
  MessageLoop loop(GetParam());
  std::vector<int> order;
  RunLoop run_loop;
  scoped_refptr<SequencedTaskRunner> runner = loop.task_runner();
  runner->PostTask(FROM_HERE, Bind(
                                  [](std::vector<int>* order, SequencedTaskRunner* runner) {
                                    order->push_back(0);
                                    runner->PostTask(FROM_HERE, Bind(&Append, order, 3));
                                  },
                                  &order, runner.get()));
  runner->PostTask(FROM_HERE, Bind(&Append, &order, 1));
  runner->PostTask(FROM_HERE, Bind(&Append, &order, 2));
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ(std::vector<int>({0, 1, 2, 3}), order);
}

TEST_P(MessageLoopTypeTest, CrossThreadPostsRunInOrder) {
  MessageLoop loop(GetParam());
  std::vector<int> order;
  RunLoop run_loop;
  scoped_refptr<SequencedTaskRunner> runner = loop.task_runner();
  std::thread poster([&] {
    for (int i = 0; i < 1000; ++i)
      ASSERT_TRUE(runner->PostTask(FROM_HERE, Bind(&Append, &order, i)));
    runner->PostTask(FROM_HERE, run_loop.QuitClosure());
  });
  run_loop.Run();
  poster.join();
  ASSERT_EQ(1000u, order.size());
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(i, order[i]);
}

TEST_P(MessageLoopTypeTest, QuitBeforeRunReturnsWithoutRunningTasks) {
  MessageLoop loop(GetParam());
  std::vector<int> order;
  loop.task_runner()->PostTask(FROM_HERE, Bind(&Append, &order, 1));
  RunLoop run_loop;
  run_loop.Quit();
  run_loop.Run();
  EXPECT_TRUE(order.empty());
}

TEST_P(MessageLoopTypeTest, QuitWhenIdleRunsQueuedAndDueDelayedTasks) {
  MessageLoop loop(GetParam());
  std::vector<int> order;
  loop.task_runner()->PostDelayedTask(FROM_HERE, Bind(&Append, &order, 9),
                                      TimeDelta::FromSeconds(3600));
  loop.task_runner()->PostDelayedTask(FROM_HERE, Bind(&Append, &order, 2),
                                      TimeDelta::FromMicroseconds(1));
  loop.task_runner()->PostTask(FROM_HERE, Bind(&Append, &order, 1));
  // Let the short delay pass before the run starts, so the task is due.
  Sleep(5);
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ(std::vector<int>({1, 2}), order);
}

TEST_P(MessageLoopTypeTest, QuitClosureOfDestroyedRunLoopDoesNothing) {
  MessageLoop loop(GetParam());
  Closure quit;
  {
    RunLoop gone;
    quit = gone.QuitClosure();
  }
  EXPECT_TRUE(quit.IsCancelled());
  std::vector<int> order;
  RunLoop run_loop;
  loop.task_runner()->PostTask(FROM_HERE, quit);
  loop.task_runner()->PostTask(FROM_HERE, Bind(&Append, &order, 1));
  loop.task_runner()->PostTask(FROM_HERE, run_loop.QuitClosure());
  run_loop.Run();
  EXPECT_EQ(std::vector<int>({1}), order);
}

INSTANTIATE_TEST_SUITE_P(AllPumps, MessageLoopTypeTest,
                         testing::Values(MessageLoop::TYPE_DEFAULT, MessageLoop::TYPE_UI),
                         [](const testing::TestParamInfo<MessageLoop::Type>& info) {
                           return std::string(info.param == MessageLoop::TYPE_UI ? "UI"
                                                                                 : "Default");
                         });

// A bound object whose destructor posts another such object, |remaining| times.
struct Reposter : RefCountedThreadSafe<Reposter> {
  Reposter(scoped_refptr<SequencedTaskRunner> runner, int remaining, int* destroyed)
      : runner(runner), remaining(remaining), destroyed(destroyed) {}
  scoped_refptr<SequencedTaskRunner> runner;
  int remaining;
  int* destroyed;

 private:
  friend class RefCountedThreadSafe<Reposter>;
  static void Hold(scoped_refptr<Reposter>) {}
  ~Reposter() {
    ++*destroyed;
    if (remaining > 0) {
      scoped_refptr<Reposter> next(new Reposter(runner, remaining - 1, destroyed));
      runner->PostDelayedTask(FROM_HERE, Bind(&Reposter::Hold, next),
                              TimeDelta::FromMilliseconds(remaining % 2 ? 0 : 100));
    }
  }
};

void HoldReposter(scoped_refptr<Reposter>) {}

TEST(MessageLoopTest, DestructorDestroysTasksThatPostTasks) {
  int destroyed = 0;
  scoped_refptr<SequencedTaskRunner> runner;
  {
    MessageLoop loop;
    runner = loop.task_runner();
    scoped_refptr<Reposter> first(new Reposter(runner, 10, &destroyed));
    runner->PostTask(FROM_HERE, Bind(&HoldReposter, first));
    runner->PostNonNestableDelayedTask(FROM_HERE, Bind(&HoldReposter, first),
                                       TimeDelta::FromSeconds(60));
  }
  // Every generation was destroyed without running, in a bounded number of passes.
  EXPECT_EQ(11, destroyed);
}

TEST(MessageLoopTest, DestructorEndsWithEndlessReposting) {
  int destroyed = 0;
  {
    MessageLoop loop;
    scoped_refptr<Reposter> first(new Reposter(loop.task_runner(), 1000000, &destroyed));
    loop.task_runner()->PostTask(FROM_HERE, Bind(&HoldReposter, first));
  }
  // 100 passes of two deletions each; the rest went with the incoming queue.
  EXPECT_GE(destroyed, 100);
  EXPECT_LT(destroyed, 1000000);
}

// A post after the loop is gone fails; the task is released on the posting thread, and
// its destructor's own post is refused in turn.
TEST(MessageLoopTest, RefusedTaskThatPostsFromItsDestructorIsReleased) {
  scoped_refptr<SequencedTaskRunner> runner;
  {
    MessageLoop loop;
    runner = loop.task_runner();
  }
  int destroyed = 0;
  {
    scoped_refptr<Reposter> reposter(new Reposter(runner, 3, &destroyed));
    EXPECT_FALSE(runner->PostTask(FROM_HERE, Bind(&HoldReposter, reposter)));
  }
  EXPECT_EQ(4, destroyed);
}

class RecordingDestructionObserver : public MessageLoop::DestructionObserver {
 public:
  explicit RecordingDestructionObserver(std::vector<int>* order, int id,
                                        RecordingDestructionObserver* remove = nullptr)
      : order_(order), id_(id), remove_(remove) {}
  void WillDestroyCurrentMessageLoop() override {
    order_->push_back(id_);
    EXPECT_NE(nullptr, MessageLoop::Current());
    if (remove_)
      MessageLoop::Current()->RemoveDestructionObserver(remove_);
  }

 private:
  std::vector<int>* order_;
  int id_;
  RecordingDestructionObserver* remove_;
};

TEST(MessageLoopTest, CurrentFollowsTheLoopAndDestructionObserversRunInOrderOnce) {
  std::vector<int> order;
  RecordingDestructionObserver third(&order, 3);
  RecordingDestructionObserver second(&order, 2);
  RecordingDestructionObserver first(&order, 1, &second);  // removes the second
  RecordingDestructionObserver removed(&order, 9);
  EXPECT_EQ(nullptr, MessageLoop::Current());
  {
    MessageLoop loop;
    EXPECT_EQ(&loop, MessageLoop::Current());
    EXPECT_EQ(loop.task_runner(), CurrentThreadTaskRunner::Get());
    EXPECT_TRUE(loop.IsType(MessageLoop::TYPE_DEFAULT));
    loop.AddDestructionObserver(&first);
    loop.AddDestructionObserver(&first);
    loop.AddDestructionObserver(&removed);
    loop.AddDestructionObserver(&second);
    loop.AddDestructionObserver(&third);
    loop.RemoveDestructionObserver(&removed);
  }
  EXPECT_EQ(std::vector<int>({1, 3}), order);
  EXPECT_EQ(nullptr, MessageLoop::Current());
  EXPECT_FALSE(CurrentThreadTaskRunner::IsSet());
}

TEST(MessageLoopTest, UnboundLoopQueuesUntilBoundOnItsThread) {
  std::unique_ptr<MessageLoop> loop =
      MessageLoop::CreateUnbound(MessageLoop::TYPE_DEFAULT, MessageLoop::MessagePumpFactory());
  scoped_refptr<SequencedTaskRunner> runner = loop->task_runner();
  std::vector<int> order;
  EXPECT_TRUE(runner->PostTask(FROM_HERE, Bind(&Append, &order, 1)));
  EXPECT_FALSE(runner->RunsTasksOnCurrentThread());
  bool ran_on_loop_thread = false;
  std::thread thread([&] {
    loop->BindToCurrentThread();
    EXPECT_TRUE(runner->RunsTasksOnCurrentThread());
    RunLoop run_loop;
    runner->PostTask(FROM_HERE, run_loop.QuitClosure());
    run_loop.Run();
    ran_on_loop_thread = order.size() == 1;
    loop.reset();
  });
  thread.join();
  EXPECT_TRUE(ran_on_loop_thread);
  EXPECT_FALSE(runner->RunsTasksOnCurrentThread());
}

class SequenceRecorder : public MessageLoop::TaskObserver {
 public:
  void WillProcessTask(const PendingTask& task) override {
    sequence_nums.push_back(task.sequence_num);
    EXPECT_FALSE(task.task.is_null());
  }
  void DidProcessTask(const PendingTask& task) override {
    EXPECT_TRUE(task.task.is_null());
  }
  std::vector<int> sequence_nums;
};

TEST(MessageLoopTest, SequenceNumbersAreConsecutiveAcrossPosters) {
  MessageLoop loop;
  SequenceRecorder recorder;
  loop.AddTaskObserver(&recorder);
  scoped_refptr<SequencedTaskRunner> runner = loop.task_runner();
  std::vector<int> order;
  runner->PostTask(FROM_HERE, Bind(&Append, &order, 0));
  std::thread([&] {
    runner->PostTask(FROM_HERE, Bind(&Append, &order, 1));
    runner->PostDelayedTask(FROM_HERE, Bind(&Append, &order, 3), TimeDelta::FromMilliseconds(1));
  }).join();
  runner->PostTask(FROM_HERE, Bind(&Append, &order, 2));
  RunLoop run_loop;
  runner->PostDelayedTask(FROM_HERE, run_loop.QuitClosure(), TimeDelta::FromMilliseconds(2));
  run_loop.Run();
  loop.RemoveTaskObserver(&recorder);
  EXPECT_EQ(std::vector<int>({0, 1, 2, 3}), order);
  EXPECT_EQ(std::vector<int>({0, 1, 3, 2, 4}), recorder.sequence_nums);
}

void RunUntilIdle() {
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
}

PendingTask MakeTask(int64_t run_time_us, int sequence_num) {
  PendingTask task(FROM_HERE, Closure(), TimeTicks::FromInternalValue(run_time_us), true);
  task.sequence_num = sequence_num;
  return task;
}

// The delayed queue's top is the earliest run time, then the smaller sequence number,
// also across the wrap-around of the numbers.
TEST(PendingTaskTest, DelayedOrderIsTimeThenSequence) {
  struct {
    int64_t first_time;
    int first_sequence;
    int64_t second_time;
    int second_sequence;
  } cases[] = {
      {100, 7, 200, 3},
      {100, 3, 100, 4},
      {100, INT_MAX, 100, INT_MIN},  // INT_MIN follows INT_MAX after the wrap
  };
  for (const auto& c : cases) {
    DelayedTaskQueue queue;
    queue.push(MakeTask(c.second_time, c.second_sequence));
    queue.push(MakeTask(c.first_time, c.first_sequence));
    EXPECT_EQ(c.first_sequence, queue.top().sequence_num);
    queue.pop();
    EXPECT_EQ(c.second_sequence, queue.top().sequence_num);
  }
}

// Delays from 1 us to just under 32 ms ask for the fine timer period at the next idle
// moment, and give it back once the task ran; longer ones and immediate tasks do not.
TEST(MessageLoopTest, HighResolutionThresholdIs32Milliseconds) {
  ASSERT_FALSE(Time::IsHighResolutionTimerInUse());
  struct {
    int64_t delay_us;
    bool high_resolution;
  } cases[] = {
      {0, false},
      {31000, true},
      {31999, true},
      {32000, false},
      {3600000000LL, false},
  };
  for (const auto& c : cases) {
    MessageLoop loop;
    const TimeDelta delay = TimeDelta::FromMicroseconds(c.delay_us);
    const TimeTicks posted = TimeTicks::Now();
    RunLoop task_ran;
    loop.task_runner()->PostDelayedTask(FROM_HERE, task_ran.QuitClosure(), delay);
    RunUntilIdle();
    // A task already due at the first look runs before any idle moment: no request then.
    if (!c.high_resolution || TimeTicks::Now() - posted < delay) {
      EXPECT_EQ(c.high_resolution, Time::IsHighResolutionTimerInUse()) << c.delay_us;
    }
    if (c.high_resolution) {
      task_ran.Run();
      RunUntilIdle();
      EXPECT_FALSE(Time::IsHighResolutionTimerInUse()) << c.delay_us;
    }
  }
  // A destroyed loop gives its activation back.
  EXPECT_FALSE(Time::IsHighResolutionTimerInUse());
}

}  // namespace
}  // namespace base
