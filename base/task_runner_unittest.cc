#include "base/task_runner.h"

#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/location.h"
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

TEST(TaskRunnerTest, PostTaskPostsWithoutDelay) {
  int destructs = 0, runs = 0;
  scoped_refptr<FakeRunner> runner = MakeRefCounted<FakeRunner>(true, &destructs);
  EXPECT_TRUE(runner->PostTask(FROM_HERE, Bind([&runs] { ++runs; })));
  ASSERT_EQ(1u, runner->delays.size());
  EXPECT_TRUE(runner->delays[0].is_zero());
  EXPECT_TRUE(runner->nestable[0]);
  runner->RunAll();
  EXPECT_EQ(1, runs);
  runner = nullptr;
  EXPECT_EQ(1, destructs);  // the last release goes through OnDestruct
}

TEST(TaskRunnerTest, RefusedTaskIsReleasedAtOnce) {
  int destructs = 0, alive = 0;
  scoped_refptr<TaskRunner> runner = MakeRefCounted<FakeRunner>(false, &destructs);
  EXPECT_FALSE(runner->PostTask(FROM_HERE, Bind(&Payload::Touch, MakeRefCounted<Payload>(&alive))));
  EXPECT_EQ(0, alive);
}

TEST(TaskRunnerTest, DeleteSoonDeletesWhenTheNonNestableTaskRuns) {
  int destructs = 0;
  bool deleted = false;
  scoped_refptr<FakeRunner> runner = MakeRefCounted<FakeRunner>(true, &destructs);
  runner->DeleteSoon(FROM_HERE, new Tracked(&deleted));
  ASSERT_EQ(1u, runner->nestable.size());
  EXPECT_FALSE(runner->nestable[0]);
  EXPECT_FALSE(deleted);
  runner->RunAll();
  EXPECT_TRUE(deleted);
}

}  // namespace
}  // namespace base
