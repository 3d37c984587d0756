#include "desktop/windows/installer/program_log_test_util.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/strings/string_split.h"
#include "base/win/scoped_generic.h"

namespace installer {
namespace testing {

void ProgramLogTest::SetUp() {
  InstallerTest::SetUp();
  if (HasFatalFailure()) return;
  saved_command_line_ = *base::CommandLine::ForCurrentProcess();
  program_log_ = scratch_.path().Append(L"programs.log");
  ASSERT_TRUE(SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_LOG", program_log_.value().c_str()));
}

void ProgramLogTest::TearDown() {
  ClearProcessSwitches();
  SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_LOG", nullptr);
  SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_EXIT_CODE", nullptr);
  InstallerTest::TearDown();
}

std::vector<std::string> ProgramLogTest::ProgramLines() {
  std::string text;
  if (!base::ReadFileToString(program_log_, &text)) return {};
  return base::SplitString(text, "\r\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
}

std::vector<std::string> ProgramLogTest::WaitForProgramLines(size_t count) {
  // The programs run on their own: wake on every write into the folder, at most a minute
  // in all, and look again.
  base::ScopedFindChangeHandle change(FindFirstChangeNotificationW(
      scratch_.path().value().c_str(), FALSE,
      FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_FILE_NAME));
  const ULONGLONG deadline = GetTickCount64() + 60000;
  for (;;) {
    std::vector<std::string> lines = ProgramLines();
    const ULONGLONG now = GetTickCount64();
    if (lines.size() >= count || !change.IsValid() || now >= deadline) return lines;
    if (WaitForSingleObject(change.Get(), static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0 ||
        !FindNextChangeNotification(change.Get())) {
      return ProgramLines();
    }
  }
}

void ProgramLogTest::SetProgramExitCode(int code) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_EXIT_CODE",
                                      std::to_wstring(code).c_str()));
}

void ProgramLogTest::AddProcessSwitch(const std::string& name, const std::wstring& value) {
  base::CommandLine::ForCurrentProcess()->AppendSwitchNative(name, value);
}

void ProgramLogTest::ClearProcessSwitches() {
  *base::CommandLine::ForCurrentProcess() = saved_command_line_;
}

}  // namespace testing
}  // namespace installer
