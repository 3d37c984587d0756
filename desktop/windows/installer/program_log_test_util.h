// Engine tests that watch the test package's fake programs: their log lines, the exit
// code they return, and switches of this process that the installer reads.
#ifndef DESKTOP_WINDOWS_INSTALLER_PROGRAM_LOG_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_PROGRAM_LOG_TEST_UTIL_H_

#include <stddef.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "desktop/windows/installer/installer_test_util.h"

namespace installer {
namespace testing {

class ProgramLogTest : public InstallerTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The lines the fake programs logged so far, "\r\n" removed.
  std::vector<std::string> ProgramLines();
  // Waits (bounded) until at least `count` lines were logged; those lines.
  std::vector<std::string> WaitForProgramLines(size_t count);
  // The exit code of every fake program from now on.
  void SetProgramExitCode(int code);
  // Switches of this process for the next runs; restored at the end of the test.
  void AddProcessSwitch(const std::string& name, const std::wstring& value = std::wstring());
  void ClearProcessSwitches();

  base::FilePath program_log_;

 private:
  base::CommandLine saved_command_line_{base::CommandLine::NO_PROGRAM};
};

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PROGRAM_LOG_TEST_UTIL_H_
