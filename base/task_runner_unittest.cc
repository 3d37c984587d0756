#include "base/task_runner.h"

#include <thread>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/sequenced_task_runner.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Queues tasks for the test to run, or refuses them all.
class FakeRunner : public SequencedTaskRunner {
 public:
  FakeRunner(bool accept, int* destructs) : accept_(accept), destructs_(destructs) {}

  bool PostDelayedTask(const Location&, Closure task, TimeDelta delay) override {
    return Queue(std::move(task), delay, true);
  }
  bool PostNonNestableDelayedTask(const Location&, Closure task, TimeDelta delay) override {
    return Queue(std::move(task), delay, false);
  }
  bool RunsTasksOnCurrentThread() const override { return true; }

  void RunAll() {
    std::vector<Closure> tasks;
    tasks.swap(tasks_);
    for (Closure& task : tasks)
      task.Run();
  }

  std::vector<TimeDelta> delays;
  std::vector<bool> nestable;

 private:
  ~FakeRunner() override = default;
  // A runner may choose where it dies; this one counts and then deletes itself.
  void OnDestruct() const override {
    ++*destructs_;
    TaskRunner::OnDestruct();
  }

  bool Queue(Closure task, TimeDelta delay, bool is_nestable) {
    if (!accept_)
      return false;
    tasks_.push_back(std::move(task));
    delays.push_back(delay);
    nestable.push_back(is_nestable);
    return true;
  }

  bool accept_;
  int* destructs_;
  std::vector<Closure> tasks_;
};

class Payload : public RefCountedThreadSafe<Payload> {
 public:
  explicit Payload(int* alive) : alive_(alive) { ++*alive_; }
  void Touch() {}

 private:
  friend class RefCountedThreadSafe<Payload>;
  ~Payload() { --*alive_; }
  int* alive_;
};

struct Tracked {
  explicit Tracked(bool* deleted) : deleted(deleted) {}
  ~Tracked() { *deleted = true; }
  bool* deleted;
};

TEST(TaskRunnerTest, PostTaskAndDeleteSoon) {
  int destructs = 0, runs = 0;
  bool deleted = false;
  scoped_refptr<FakeRunner> runner = MakeRefCounted<FakeRunner>(true, &destructs);
  EXPECT_TRUE(runner->PostTask(FROM_HERE, Bind([&runs] { ++runs; })));
  runner->DeleteSoon(FROM_HERE, new Tracked(&deleted));
  ASSERT_EQ(2u, runner->delays.size());
  EXPECT_TRUE(runner->delays[0].is_zero());
  EXPECT_TRUE(runner->nestable[0]);
  EXPECT_FALSE(runner->nestable[1]);
  EXPECT_FALSE(deleted);
  runner->RunAll();
  EXPECT_EQ(1, runs);
  EXPECT_TRUE(deleted);
  runner = nullptr;
  EXPECT_EQ(1, destructs);  // the last release goes through OnDestruct

  int alive = 0;
  scoped_refptr<TaskRunner> refusing = MakeRefCounted<FakeRunner>(false, &destructs);
  EXPECT_FALSE(
      refusing->PostTask(FROM_HERE, Bind(&Payload::Touch, MakeRefCounted<Payload>(&alive))));
  EXPECT_EQ(0, alive) << "a refused task is released at once";
}

void Append(std::vector<int>* order, int value) {
  order->push_back(value);
}

// The reply's return to the posting thread is proven by the worker pool's tests.
TEST(TaskRunnerTest, PostTaskAndReplyPostsTheTaskToTheDestination) {
  MessageLoop main_loop;
  int destructs = 0;
  std::vector<int> order;
  scoped_refptr<FakeRunner> runner = MakeRefCounted<FakeRunner>(true, &destructs);
  ASSERT_TRUE(
      runner->PostTaskAndReply(FROM_HERE, Bind(&Append, &order, 1), Bind(&Append, &order, 2)));
  EXPECT_TRUE(order.empty());
  runner->RunAll();
  EXPECT_EQ(std::vector<int>{1}, order);
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ((std::vector<int>{1, 2}), order);
}

TEST(TaskRunnerTest, PostTaskAndReplyToGoneLoopReleasesBoth) {
  MessageLoop main_loop;
  scoped_refptr<SequencedTaskRunner> gone;
  {
    std::thread([&] {
      MessageLoop loop;
      gone = loop.task_runner();
    }).join();
  }
  int alive = 0;
  scoped_refptr<Payload> task_object = MakeRefCounted<Payload>(&alive);
  scoped_refptr<Payload> reply_object = MakeRefCounted<Payload>(&alive);
  EXPECT_FALSE(gone->PostTaskAndReply(FROM_HERE, Bind(&Payload::Touch, task_object),
                                      Bind(&Payload::Touch, reply_object)));
  task_object = nullptr;
  reply_object = nullptr;
  EXPECT_EQ(0, alive);
}

}  // namespace
}  // namespace base
