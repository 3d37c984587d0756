#include "base/tracked_objects.h"

#include <windows.h>

#include <thread>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"

namespace base {
namespace {

TEST(TrackedObjectsTest, SanitizeThreadNameFoldsTrailingDigits) {
  struct {
    const char* name;
    const char* sanitized;
  } cases[] = {
      {"Installer IPC thread", "Installer IPC thread"},
      {"PrefsTaskPool/4242", "PrefsTaskPool/*"},
      {"Worker-12", "Worker-*"},
      {"7", "*"},
      {"", ""},
      {"a1b", "a1b"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.sanitized, TrackedThreadData::SanitizeThreadName(c.name)) << c.name;
}

// The second thread of a name takes over the record the first one left behind; an
// unnamed thread gets the shared worker record.
TEST(TrackedObjectsTest, SuccessiveThreadsOfOneNameShareARecord) {
  TrackedThreadData* first = nullptr;
  TrackedThreadData* second = nullptr;
  TrackedThreadData* other = nullptr;
  std::thread([&] {
    TrackedThreadData::InitializeThreadContext("GsTaskThread");
    first = TrackedThreadData::Get();
  }).join();
  std::thread([&] {
    TrackedThreadData::InitializeThreadContext("GsTaskThread");
    second = TrackedThreadData::Get();
    std::thread([&] {
      TrackedThreadData::InitializeThreadContext("GsTaskThread");
      other = TrackedThreadData::Get();  // the record is in use: a new one
    }).join();
  }).join();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, second);
  EXPECT_NE(first, other);
  EXPECT_EQ("GsTaskThread", first->thread_name());

  TrackedThreadData* unnamed = nullptr;
  std::thread([&] { unnamed = TrackedThreadData::Get(); }).join();
  ASSERT_NE(nullptr, unnamed);
  EXPECT_EQ("WorkerThread-*", unnamed->thread_name());
}

// Busy-waits until the tracked clock has moved |ms| on.
void SpendTrackedMilliseconds(TrackedTime ms) {
  TrackedTime start = TrackedThreadData::Now();
  while (TrackedThreadData::Now() - start < ms)
    Sleep(1);
}

TEST(TrackedObjectsTest, NestedStopwatchTimeIsExcludedFromOuter) {
  TrackedThreadData::InitializeThreadContext("TrackedObjectsTest main");
  ASSERT_TRUE(TrackedThreadData::IsActive());
  TaskStopwatch outer;
  outer.Start();
  TaskStopwatch inner;
  inner.Start();
  SpendTrackedMilliseconds(20);
  inner.Stop();
  outer.Stop();
  EXPECT_GE(inner.RunDurationMs(), 20);
  EXPECT_EQ(outer.WallClockDurationMs() - inner.WallClockDurationMs(), outer.RunDurationMs());
  EXPECT_GE(outer.WallClockDurationMs(), inner.WallClockDurationMs());
}

void SpendTwentyMilliseconds() {
  SpendTrackedMilliseconds(20);
}

// Posting tallies a birth on the posting thread; running tallies a death with its run
// time on the running thread.
TEST(TrackedObjectsTest, LoopTasksTallyBirthsAndDeaths) {
  TrackedThreadData::InitializeThreadContext("TrackedObjectsTest main");
  MessageLoop loop;
  const Location here = FROM_HERE;
  RunLoop run_loop;
  for (int i = 0; i < 3; ++i)
    loop.task_runner()->PostTask(here, Bind(&SpendTwentyMilliseconds));
  TrackedThreadData* thread_data = TrackedThreadData::Get();
  Births* births = thread_data->TallyABirth(here);  // a fourth birth, same site
  EXPECT_EQ(4, births->birth_count());
  run_loop.QuitWhenIdle();
  run_loop.Run();
  const DeathData* deaths = thread_data->FindDeathDataForTesting(births);
  ASSERT_NE(nullptr, deaths);
  EXPECT_EQ(3, deaths->count);
  EXPECT_GE(deaths->run_duration_sum, 60);
  EXPECT_GE(deaths->run_duration_max, 20);
  EXPECT_GE(deaths->run_duration_sample, 20);
}

}  // namespace
}  // namespace base
