#include "base/process/launch.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "base/debug/activity_tracker.h"
#include "base/test/test_helper_process.h"
#include "base/win/scoped_handle.h"

namespace base {
namespace {

const DWORD kTestTimeoutMs = 60000;

std::wstring HelperCommand(const std::wstring& arguments) {
  return L"\"" + TestExeSibling(L"launch_test_helper.exe") + L"\" " + arguments;
}

std::wstring HandleText(HANDLE handle) {
  return std::to_wstring(reinterpret_cast<uintptr_t>(handle));
}

ScopedHandle NewEvent(bool inheritable) {
  SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, inheritable ? TRUE : FALSE};
  return ScopedHandle(CreateEventW(&security, TRUE, FALSE, nullptr));
}

bool IsSet(const ScopedHandle& event) {
  return WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0;
}

// Runs the launched child to its end; its exit code, or -1.
int ExitCodeOf(const Process& process) {
  if (!process.IsValid()) return -1;
  if (WaitForSingleObject(process.Handle(), kTestTimeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  if (!GetExitCodeProcess(process.Handle(), &code)) return -1;
  return static_cast<int>(code);
}

TEST(LaunchProcessTest, InheritsWhatTheOptionsAllow) {
  struct Case {
    const char* what;
    bool use_list;
    bool list_listed_and_private;  // else an empty list
    bool inherit_handles;
    bool listed_set, unlisted_set, private_set;
  };
  // "listed" and "unlisted" events are inheritable; "private" is not until it is listed.
  const Case cases[] = {
      {"list: exactly the listed handles", true, true, true, true, false, true},
      {"list without the inherit flag", true, true, false, true, false, true},
      {"empty list: nothing, even with the flag", true, false, true, false, false, false},
      {"no list, inherit all", false, false, true, true, true, false},
      {"no list, no inheritance", false, false, false, false, false, false},
  };
  for (const Case& c : cases) {
    ScopedHandle listed = NewEvent(true);
    ScopedHandle unlisted = NewEvent(true);
    ScopedHandle private_event = NewEvent(false);
    HandlesToInheritVector handles;
    if (c.list_listed_and_private) handles = {listed.Get(), private_event.Get()};
    LaunchOptions options;
    options.inherit_handles = c.inherit_handles;
    if (c.use_list) options.handles_to_inherit = &handles;
    Process child = LaunchProcess(
        HelperCommand(L"set-events " + HandleText(listed.Get()) + L" " +
                      HandleText(unlisted.Get()) + L" " + HandleText(private_event.Get())),
        options);
    ASSERT_TRUE(child.IsValid()) << c.what;
    ASSERT_NE(-1, ExitCodeOf(child)) << c.what;
    EXPECT_EQ(c.listed_set, IsSet(listed)) << c.what;
    EXPECT_EQ(c.unlisted_set, IsSet(unlisted)) << c.what;
    EXPECT_EQ(c.private_set, IsSet(private_event)) << c.what;
  }
}

TEST(LaunchProcessTest, HandleListNeedsExtendedStartupInformation) {
  ScopedHandle event = NewEvent(false);
  const HandlesToInheritVector handles = {event.Get()};

  ProcThreadAttributeList before_vista;
  before_vista.Initialize(OS_VERSION_XP);
  EXPECT_FALSE(before_vista.extended());
  EXPECT_EQ(sizeof(STARTUPINFOW), before_vista.startup_info()->StartupInfo.cb);
  EXPECT_FALSE(before_vista.SetHandleList(handles));

  ProcThreadAttributeList seven;
  seven.Initialize(OS_VERSION_WIN7);
  EXPECT_TRUE(seven.extended());
  EXPECT_TRUE(seven.SetHandleList(handles));
  EXPECT_NE(nullptr, seven.startup_info()->lpAttributeList);
  // One list per launch.
  EXPECT_FALSE(seven.SetHandleList(handles));
}

TEST(LaunchProcessTest, PutsTheChildIntoTheJobAndRecordsTheLaunch) {
  if (!debug::GlobalActivityTracker::Get())
    debug::GlobalActivityTracker::CreateWithLocalMemory(4096);
  ScopedHandle job(CreateJobObjectW(nullptr, nullptr));
  ASSERT_TRUE(job.IsValid());
  LaunchOptions options;
  options.job_handle = job.Get();
  Process child = LaunchProcess(HelperCommand(L"in-job"), options);
  ASSERT_TRUE(child.IsValid());
  EXPECT_TRUE(debug::GlobalActivityTracker::Get()->IsKnownProcess(child.Pid()));
  BOOL in_our_job = FALSE;
  ASSERT_TRUE(IsProcessInJob(child.Handle(), job.Get(), &in_our_job));
  EXPECT_TRUE(in_our_job);
  // It was resumed after the assignment and saw itself in a job.
  EXPECT_EQ(1, ExitCodeOf(child));
}

TEST(LaunchProcessTest, FailsForAMissingProgramOrAChildThatCannotJoinTheJob) {
  EXPECT_FALSE(LaunchProcess(L"\"C:\\no such folder\\nothing.exe\"", LaunchOptions()).IsValid());
  ScopedHandle not_a_job = NewEvent(false);
  ScopedHandle marker = NewEvent(true);
  LaunchOptions options;
  options.inherit_handles = true;
  options.job_handle = not_a_job.Get();
  Process child = LaunchProcess(HelperCommand(L"set-events " + HandleText(marker.Get())), options);
  EXPECT_FALSE(child.IsValid());
  // The suspended child was ended before it ran a line.
  EXPECT_FALSE(IsSet(marker));
}

TEST(LaunchProcessTest, StandardOutputAlone) {
  HANDLE read_handle = nullptr;
  HANDLE write_handle = nullptr;
  ASSERT_TRUE(CreatePipe(&read_handle, &write_handle, nullptr, 0));
  ScopedHandle read_end(read_handle);
  ScopedHandle write_end(write_handle);
  const HandlesToInheritVector handles = {write_end.Get()};
  LaunchOptions options;
  options.handles_to_inherit = &handles;
  options.stdout_handle = write_end.Get();
  options.start_hidden = true;
  Process child = LaunchProcess(HelperCommand(L"print hello"), options);
  ASSERT_TRUE(child.IsValid());
  write_end.Close();
  std::string text;
  char buffer[64];
  DWORD read = 0;
  while (ReadFile(read_end.Get(), buffer, sizeof(buffer), &read, nullptr) && read)
    text.append(buffer, read);
  EXPECT_EQ("hello", text);
  EXPECT_EQ(0, ExitCodeOf(child));
}

TEST(LaunchProcessTest, DesktopDirectoryAndWaitOptions) {
  FilePath windows_folder(L"C:\\windows");
  struct Case {
    const char* what;
    bool empty_name, current, with_directory, wait;
  } cases[] = {
      {"empty desktop name", true, false, false, false},
      {"current desktop by name", false, true, false, false},
      {"both: the empty name wins", true, true, false, false},
      {"current directory", false, false, true, false},
      {"wait for the child", false, false, false, true},
  };
  for (const Case& c : cases) {
    LaunchOptions options;
    options.empty_desktop_name = c.empty_name;
    options.use_current_desktop = c.current;
    if (c.with_directory) options.current_directory = windows_folder;
    options.wait = c.wait;
    Process child = LaunchProcess(HelperCommand(L"exit 3"), options);
    if (c.wait) {
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.Handle(), 0));
    }
    EXPECT_EQ(3, ExitCodeOf(child)) << c.what;
  }
}

TEST(LaunchProcessTest, AsUserGetsThatUsersEnvironmentOnly) {
  HANDLE token_handle = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(),
                               TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY,
                               &token_handle));
  ScopedHandle token(token_handle);
  ASSERT_TRUE(SetEnvironmentVariableW(L"VELUM_LAUNCH_PARENT_ONLY", L"1"));
  LaunchOptions options;
  EXPECT_EQ(0, ExitCodeOf(LaunchProcess(HelperCommand(L"env VELUM_LAUNCH_PARENT_ONLY"),
                                        options)));
  options.as_user = token.Get();
  // 251: the variable is not in the new user environment.
  EXPECT_EQ(251, ExitCodeOf(LaunchProcess(HelperCommand(L"env VELUM_LAUNCH_PARENT_ONLY"),
                                          options)));
  SetEnvironmentVariableW(L"VELUM_LAUNCH_PARENT_ONLY", nullptr);
}

TEST(RunAndCaptureOutputTest, ResultFollowsHowTheChildEnded) {
  struct Case {
    const wchar_t* arguments;
    bool result;
  } cases[] = {
      {L"print out", true},
      {L"exit 2", true},
      {L"exit 0xC0000005", false},
      {L"exit 0x80000003", false},
      {L"crash", false},
  };
  for (const Case& c : cases) {
    std::string output;
    EXPECT_EQ(c.result, RunAndCaptureOutput(HelperCommand(c.arguments), &output))
        << c.arguments;
  }
}

TEST(RunAndCaptureOutputTest, AppendsTheOutput) {
  std::string output = "before:";
  const std::wstring long_text(3000, L'x');  // several read chunks
  CommandLine command(FilePath(TestExeSibling(L"launch_test_helper.exe")));
  command.AppendArg("print");
  command.AppendArg(std::string(long_text.begin(), long_text.end()));
  EXPECT_TRUE(RunAndCaptureOutput(command, &output));
  EXPECT_EQ("before:" + std::string(3000, 'x'), output);

  EXPECT_FALSE(RunAndCaptureOutput(L"\"C:\\no such folder\\nothing.exe\"", &output));
}

TEST(RunAndCaptureOutputTest, TimedCaptureEndsAChildThatDoesNotEnd) {
  std::string output;
  bool timed_out = true;
  // Ends at once: the limit only bounds a child that does not.
  EXPECT_TRUE(RunAndCaptureOutputWithTimeout(HelperCommand(L"print 1234.5"),
                                             TimeDelta::FromSeconds(120), nullptr, &output,
                                             &timed_out));
  EXPECT_FALSE(timed_out);
  EXPECT_EQ("1234.5", output);

  output.clear();
  Lock launch_lock;
  EXPECT_FALSE(RunAndCaptureOutputWithTimeout(HelperCommand(L"hang x"),
                                              TimeDelta::FromMilliseconds(300), &launch_lock,
                                              &output, &timed_out));
  EXPECT_TRUE(timed_out);

  EXPECT_FALSE(RunAndCaptureOutputWithTimeout(L"\"C:\\no such folder\\nothing.exe\"",
                                              TimeDelta::FromSeconds(1), nullptr, &output,
                                              &timed_out));
  EXPECT_FALSE(timed_out);
}

TEST(TerminationStatusTest, ExitCodeClasses) {
  const struct {
    DWORD code;
    TerminationStatus status;
  } cases[] = {
      {0, TERMINATION_STATUS_NORMAL_TERMINATION},
      {2, TERMINATION_STATUS_NORMAL_TERMINATION},
      {255, TERMINATION_STATUS_NORMAL_TERMINATION},
      {1, TERMINATION_STATUS_PROCESS_WAS_KILLED},
      {0x40010004, TERMINATION_STATUS_PROCESS_WAS_KILLED},
      {0xC000013A, TERMINATION_STATUS_PROCESS_WAS_KILLED},
      {0xC0000354, TERMINATION_STATUS_PROCESS_WAS_KILLED},
      {0xE0000008, TERMINATION_STATUS_OOM},
      {7012, TERMINATION_STATUS_OOM},
      {0xC0000005, TERMINATION_STATUS_PROCESS_CRASHED},
      {0xC00000FD, TERMINATION_STATUS_PROCESS_CRASHED},
      {0x80000003, TERMINATION_STATUS_PROCESS_CRASHED},  // an unhandled breakpoint
      {0xE06D7363, TERMINATION_STATUS_PROCESS_CRASHED},  // an uncaught C++ exception
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.status, TerminationStatusFromExitCode(c.code)) << std::hex << c.code;
}

TEST(TerminationStatusTest, RunningEndedAndUnknownProcesses) {
  ScopedHandle process, thread;
  ASSERT_TRUE(StartTestHelper(L"launch_test_helper.exe", L"exit 2", CREATE_SUSPENDED, &process,
                              &thread));
  int exit_code = -1;
  EXPECT_EQ(TERMINATION_STATUS_STILL_RUNNING,
            GetProcessTerminationStatus(process.Get(), &exit_code));
  EXPECT_EQ(258, exit_code);
  ResumeThread(thread.Get());
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), kTestTimeoutMs));
  EXPECT_EQ(TERMINATION_STATUS_NORMAL_TERMINATION,
            GetProcessTerminationStatus(process.Get(), &exit_code));
  EXPECT_EQ(2, exit_code);

  // A handle whose exit code cannot be read is not a clean exit.
  ScopedHandle not_a_process = NewEvent(false);
  EXPECT_EQ(TERMINATION_STATUS_ABNORMAL_TERMINATION,
            GetProcessTerminationStatus(not_a_process.Get(), &exit_code));
}

}  // namespace
}  // namespace base
