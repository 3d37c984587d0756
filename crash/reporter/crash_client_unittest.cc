#include "crash/reporter/crash_client.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "base/command_line.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"
#include "base/win/wrapped_window_proc.h"
#include "crash/reporter/crash_exception_handler.h"
#include "crash/reporter/crash_reporter_test_util.h"

namespace crash_reporter {
namespace {

base::CommandLine HelperCommand(const std::string& mode) {
  base::CommandLine command_line(
      base::FilePath(base::TestExeSibling(L"crash_reporter_test_helper.exe")));
  command_line.AppendSwitchASCII("mode", mode);
  return command_line;
}

TEST(CrashClientStartTest, LaunchedReporterThatSignalsIsUsed) {
  base::CommandLine command_line = HelperCommand("late");
  // The helper signals once this event is set; set it up front.
  base::ScopedHandle ready(CreateEventW(nullptr, TRUE, TRUE, L"VelumCrashTestReadyAtOnce"));
  command_line.AppendSwitchNative("late-event", L"VelumCrashTestReadyAtOnce");
  EXPECT_NE(0u, internal::LaunchCrashReporter(command_line, 60000));
}

TEST(CrashClientStartTest, ReporterEndingBeforeItsSignalGivesNone) {
  EXPECT_EQ(0u, internal::LaunchCrashReporter(HelperCommand("exit"), 60000));
  // Even when an earlier reporter's signal is still set, as when that reporter holds the
  // event while it ends.
  base::ScopedHandle earlier(CreateEventW(
      nullptr, TRUE, TRUE, GetCrashReporterInitEventName(GetCurrentProcessId()).c_str()));
  ASSERT_TRUE(earlier.IsValid());
  ASSERT_TRUE(SetEvent(earlier.Get()));
  EXPECT_EQ(0u, internal::LaunchCrashReporter(HelperCommand("exit"), 60000));
}

TEST(CrashClientStartTest, ReporterReadyOnlyAfterTheWaitIsNotUsed) {
  base::ScopedHandle late(CreateEventW(nullptr, TRUE, FALSE, L"VelumCrashTestLate"));
  base::CommandLine command_line = HelperCommand("late");
  command_line.AppendSwitchNative("late-event", L"VelumCrashTestLate");
  EXPECT_EQ(0u, internal::LaunchCrashReporter(command_line, kCrashReporterStartWaitMs));
  // Every launch of this process waits on the same event name: the helper's late signal
  // is taken here, or a slow helper would end a later test's launch before its reporter
  // is ready.
  base::ScopedHandle init(CreateEventW(
      nullptr, TRUE, FALSE, GetCrashReporterInitEventName(GetCurrentProcessId()).c_str()));
  ASSERT_TRUE(init.IsValid());
  SetEvent(late.Get());
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(init.Get(), 60000));
}

TEST(CrashClientStartTest, ReporterIdComesFromTheSwitchOrALaunch) {
  base::CommandLine given = HelperCommand("exit");
  given.AppendSwitchASCII("crash-reporter-pid", "4711");
  EXPECT_EQ(4711u, internal::FindOrLaunchCrashReporter(given, 0));
  EXPECT_EQ(0u, internal::FindOrLaunchCrashReporter(given, -1));  // no reporter at all

  base::ScopedHandle ready(CreateEventW(nullptr, TRUE, TRUE, L"VelumCrashTestReady2"));
  base::CommandLine not_a_number = HelperCommand("late");
  not_a_number.AppendSwitchNative("late-event", L"VelumCrashTestReady2");
  not_a_number.AppendSwitchASCII("crash-reporter-pid", "47x");
  const uint32_t launched = internal::FindOrLaunchCrashReporter(not_a_number, 0);
  EXPECT_NE(0u, launched);
  EXPECT_NE(47u, launched);
}

TEST(CrashClientStartTest, ObjectNamesFitTheirLimit) {
  EXPECT_EQ(L"VelumCrashReporterInitEvent4294967295",
            GetCrashReporterInitEventName(4294967295u));
  EXPECT_EQ(L"\\\\.\\pipe\\VelumCrashReporter12", GetCrashPipeName(12));
}

using CrashClientConnectTest = base::ScratchDirTest;

TEST_F(CrashClientConnectTest, ConnectsToAReporterAndWrapsWindowProcedures) {
  TestReporter reporter("serve", Path(L"report.txt"));
  ASSERT_NE(0u, reporter.pid());
  internal::ConnectCrashReporterTo(reporter.pid());
  CrashExceptionHandler* handler = internal::GetCrashHandler();
  ASSERT_NE(nullptr, handler);
  EXPECT_TRUE(handler->IsOutOfProcess());
  EXPECT_EQ(reporter.pid(), GetCrashReporterProcessId());
  const base::WindowProcExceptionFilter filter = base::SetWindowProcExceptionFilter(nullptr);
  EXPECT_EQ(&DumpAndTerminate, filter);
  base::SetWindowProcExceptionFilter(filter);
  internal::ResetCrashClientForTesting();
  EXPECT_EQ(0u, GetCrashReporterProcessId());
}

TEST_F(CrashClientConnectTest, WithoutARegistrationThereIsNoHandler) {
  // A reply that refuses, or whose handle values name nothing here: the registration
  // fails, and no value is closed (closing one would stop this process).
  for (const char* mode : {"zero-id", "garbage", "one-zero"}) {
    TestReporter reporter(mode, Path(L"report.txt"));
    ASSERT_NE(0u, reporter.pid());
    internal::ConnectCrashReporterTo(reporter.pid());
    EXPECT_EQ(nullptr, internal::GetCrashHandler()) << mode;
    internal::ResetCrashClientForTesting();
  }
  TestReporter reporter("zero-id", Path(L"report.txt"));
  ASSERT_NE(0u, reporter.pid());
  internal::ConnectCrashReporterTo(reporter.pid());
  EXPECT_EQ(nullptr, internal::GetCrashHandler());
  internal::ConnectCrashReporterTo(0);
  EXPECT_EQ(nullptr, internal::GetCrashHandler());
  internal::ResetCrashClientForTesting();
}

// The crash itself runs in crash_client_test_helper.exe.
TEST_F(CrashClientConnectTest, CrashReachesTheReporterWithTheCrashKeys) {
  struct Case {
    const wchar_t* mode;
    const char* harbor_test;  // null: unset
    const char* expected_origin;
  };
  const Case cases[] = {{L"dump-and-terminate", nullptr, "lab"},
                        {L"unhandled", "run-7", "Harbor"}};
  for (const Case& c : cases) {
    ScopedEnvironmentVariable origin("VELUM_CRASH_ORIGIN", "lab");
    ScopedEnvironmentVariable harbor("VELUM_CRASH_REPORTER_HARBOR_TEST", c.harbor_test);
    ScopedEnvironmentVariable email("VELUM_CRASH_EMAIL", "qa@example.com");
    const base::FilePath report = Path(c.mode);
    TestReporter reporter("serve", report);
    ASSERT_NE(0u, reporter.pid());
    const int exit_code = base::RunTestHelper(
        L"crash_client_test_helper.exe", std::wstring(c.mode) + L" \"" +
                                             scratch_.path().value() + L"\" " +
                                             base::UintToString16(reporter.pid()));
    if (c.mode == std::wstring(L"dump-and-terminate"))
      EXPECT_EQ(static_cast<int>(kCrashExitCode), exit_code);
    else
      EXPECT_NE(0, exit_code);
    std::map<std::string, std::string> seen = ReadReport(report);
    EXPECT_EQ("0xe0000042", seen["exception_code"]) << c.mode;
    EXPECT_EQ("0", seen["assertion_type"]);
    EXPECT_EQ("installer", seen["entry:ptype"]);
    EXPECT_EQ("Win32", seen["entry:plat"]);
    EXPECT_EQ("VelumDesktop", seen["entry:prod"]);
    EXPECT_EQ(14u, seen["entry:BuildID"].size());
    EXPECT_EQ("release", seen["entry:ReleaseChannel"]);
    EXPECT_EQ("browser-syms", seen["entry:symbols-package"]);
    EXPECT_EQ("0", seen["entry:is_wow64"]);
    EXPECT_EQ("qa@example.com", seen["entry:Email"]);
    EXPECT_EQ(c.expected_origin, seen["entry:Origin"]) << c.mode;
    EXPECT_EQ(c.harbor_test ? c.harbor_test : "", seen["entry:harbor_test-1"]) << c.mode;
  }
}

// Exit codes of crash_client_test_helper.exe.
constexpr int kHelperNotTerminated = 23;
constexpr int kHelperPreviousFilterCalled = 24;

TEST_F(CrashClientConnectTest, TwoThreadsCrashingAtOnceGiveOneDump) {
  const base::FilePath report = Path(L"report.txt");
  TestReporter reporter("serve", report);
  ASSERT_NE(0u, reporter.pid());
  const int exit_code = base::RunTestHelper(
      L"crash_client_test_helper.exe",
      L"two-threads \"" + scratch_.path().value() + L"\" " + base::UintToString16(reporter.pid()));
  // The crash that was second waited at the gate while the first one's dump was taken.
  std::map<std::string, std::string> seen = ReadReport(report);
  EXPECT_EQ("0xe0000042", seen["exception_code"]);
  EXPECT_EQ(0, reporter.WaitForExit()) << "the reporter was asked exactly once";
  EXPECT_NE(0, exit_code);
  EXPECT_NE(kHelperNotTerminated, exit_code);
}

TEST_F(CrashClientConnectTest, DumpTheReporterNeverWroteFallsThroughToThePreviousFilter) {
  TestReporter reporter("abandon", Path(L"report.txt"));
  ASSERT_NE(0u, reporter.pid());
  EXPECT_EQ(kHelperPreviousFilterCalled,
            base::RunTestHelper(L"crash_client_test_helper.exe",
                                L"fall-through \"" + scratch_.path().value() + L"\" " +
                                    base::UintToString16(reporter.pid())));
}

}  // namespace
}  // namespace crash_reporter
