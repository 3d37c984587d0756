#include "base/process/process.h"

#include <windows.h>

#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "base/debug/activity_tracker.h"
#include "base/test/test_helper_process.h"

namespace base {
namespace {

// A child that stays until the test sets its event, then exits with a chosen code.
class ChildProcess {
 public:
  explicit ChildProcess(int exit_code) {
    const std::wstring name = L"Local\\VelumProcessTest_" +
                              std::to_wstring(GetCurrentProcessId()) + L"_" +
                              std::to_wstring(++counter_);
    release_.Set(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    ScopedHandle thread;
    ScopedHandle process;
    if (release_.IsValid() &&
        StartTestHelper(L"process_test_helper.exe",
                        std::to_wstring(exit_code) + L" " + name, 0, &process, &thread)) {
      process_ = Process(process.Take());
    }
  }
  ~ChildProcess() { Release(); }

  void Release() { SetEvent(release_.Get()); }
  Process& process() { return process_; }

 private:
  static int counter_;
  ScopedHandle release_;
  Process process_;
};
int ChildProcess::counter_ = 0;

TEST(ProcessTest, WaitsForExitCode) {
  const struct {
    const char* what;
    TimeDelta limit;
  } limits[] = {
      {"no limit", TimeDelta::Max()},
      {"ten minutes", TimeDelta::FromSeconds(600)},
      {"beyond 49.7 days", TimeDelta::FromMilliseconds(0x100000000LL)},
  };
  int code = 40;
  for (const auto& c : limits) {
    ChildProcess child(++code);
    ASSERT_TRUE(child.process().IsValid()) << c.what;
    child.Release();
    int32_t exit_code = -1;
    EXPECT_TRUE(child.process().WaitForExitWithTimeout(c.limit, &exit_code)) << c.what;
    EXPECT_EQ(code, exit_code) << c.what;
  }
}

TEST(ProcessTest, ZeroAndNegativeLimitsDoNotWait) {
  ChildProcess child(7);
  ASSERT_TRUE(child.process().IsValid());
  for (TimeDelta limit : {TimeDelta(), TimeDelta::FromMilliseconds(-5),
                          TimeDelta::FromMicroseconds(999)}) {
    int32_t exit_code = -1;
    EXPECT_FALSE(child.process().WaitForExitWithTimeout(limit, &exit_code));
    EXPECT_EQ(-1, exit_code) << "untouched on time-out";
  }
  child.Release();
  ASSERT_TRUE(child.process().WaitForExit(nullptr));
  // Once ended, a zero limit reports the exit code at once.
  int32_t exit_code = -1;
  EXPECT_TRUE(child.process().WaitForExitWithTimeout(TimeDelta(), &exit_code));
  EXPECT_EQ(7, exit_code);
}

TEST(ProcessTest, OpenById) {
  ChildProcess child(3);
  ASSERT_TRUE(child.process().IsValid());
  const DWORD pid = child.process().Pid();
  ASSERT_NE(0u, pid);
  Process opened = Process::Open(pid);
  ASSERT_TRUE(opened.IsValid());
  EXPECT_EQ(pid, opened.Pid());
  EXPECT_FALSE(opened.WaitForExitWithTimeout(TimeDelta(), nullptr));
  child.Release();
  int32_t exit_code = 0;
  EXPECT_TRUE(opened.WaitForExit(&exit_code));
  EXPECT_EQ(3, exit_code);
}

TEST(ProcessTest, CurrentHoldsNoHandleAndMissingProcessIsInvalid) {
  Process current = Process::Current();
  EXPECT_TRUE(current.IsValid());
  EXPECT_EQ(GetCurrentProcess(), current.Handle());
  EXPECT_EQ(GetCurrentProcessId(), current.Pid());
  EXPECT_FALSE(current.WaitForExitWithTimeout(TimeDelta(), nullptr));
  // Process ids are multiples of four; this one is never handed out.
  EXPECT_FALSE(Process::Open(0xFFFFFFF1).IsValid());
  EXPECT_FALSE(Process().IsValid());
}

TEST(ProcessTest, MoveTransfersHandleAndKeepsLastError) {
  ChildProcess child(5);
  ASSERT_TRUE(child.process().IsValid());
  const HANDLE handle = child.process().Handle();

  SetLastError(1234);
  Process moved = std::move(child.process());
  EXPECT_EQ(1234u, GetLastError());
  EXPECT_EQ(handle, moved.Handle());
  EXPECT_FALSE(child.process().IsValid());

  Process current = Process::Current();
  SetLastError(4321);
  current = std::move(moved);
  EXPECT_EQ(4321u, GetLastError());
  EXPECT_EQ(handle, current.Handle());
  EXPECT_FALSE(moved.IsValid()) << "the source is left empty and not current";

  child.Release();
  int32_t exit_code = 0;
  EXPECT_TRUE(current.WaitForExit(&exit_code));
  EXPECT_EQ(5, exit_code);
}

TEST(ProcessTest, ExitIsReportedToActivityTracker) {
  debug::GlobalActivityTracker::CreateWithLocalMemory(4096);
  debug::GlobalActivityTracker* tracker = debug::GlobalActivityTracker::Get();
  ASSERT_TRUE(tracker);
  ChildProcess child(9);
  ASSERT_TRUE(child.process().IsValid());
  const DWORD pid = child.process().Pid();
  tracker->RecordProcessLaunch(pid, L"process_test_helper.exe 9");
  EXPECT_FALSE(child.process().WaitForExitWithTimeout(TimeDelta(), nullptr));
  EXPECT_TRUE(tracker->IsKnownProcess(pid)) << "a time-out is no exit";
  child.Release();
  ASSERT_TRUE(child.process().WaitForExit(nullptr));
  EXPECT_FALSE(tracker->IsKnownProcess(pid));
}

TEST(ProcessDeathTest, CurrentProcessPseudoHandleIsFatal) {
  EXPECT_DEATH({ Process process(GetCurrentProcess()); }, "");
}

}  // namespace
}  // namespace base
