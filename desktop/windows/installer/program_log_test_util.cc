#include "desktop/windows/installer/program_log_test_util.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/strings/string_split.h"

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
  // The programs run on their own: wait for their lines, at most a minute.
  for (int i = 0; i < 600; ++i) {
    std::vector<std::string> lines = ProgramLines();
    if (lines.size() >= count) return lines;
    Sleep(100);
  }
  return ProgramLines();
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
