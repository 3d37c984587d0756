// The fixture of the interactive installer's tests: an InstallerUIController in this
// process on the real wizard, running from an unpacked copy of test_pkg whose
// "installer.exe" is the backend test helper, or as a net installer fetching a package
// from a local update server; statistics go to that server. Each test scripts the user in
// |script_|, which runs once the controller has taken the window.
#ifndef DESKTOP_WINDOWS_INSTALLER_FRONT_END_INSTALLER_UI_CONTROLLER_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONT_END_INSTALLER_UI_CONTROLLER_TEST_UTIL_H_

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_path.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/test/scoped_command_line_test_util.h"
#include "desktop/windows/installer/front_end/front_end_controller_test_util.h"
#include "desktop/windows/installer/front_end/installer_ui_controller.h"
#include "desktop/windows/installer/steps/installation_test_util.h"

namespace installer {

class PayloadReader;

namespace testing {

class InstallerUIControllerTest : public FrontEndControllerTest {
 protected:
  InstallerUIControllerTest();
  ~InstallerUIControllerTest() override;

  void SetUp() override;
  void TearDown() override;

  [[nodiscard]] bool RunController(Settings* settings, PayloadReader* payload = nullptr);

  // Runs |then| once |condition| holds, checking again as tasks go by; gives up (a
  // failure, then GiveUp) after about a minute.
  void When(std::function<bool()> condition, std::function<void()> then, int tries = 6000);
  // Ends a run that waited in vain: cancels it.
  virtual void GiveUp();

  bool OnErrorPage() const;

  // Makes this process a net installer whose download address comes from |address|: the
  // backend that waits for the package is the running program, the backend test helper
  // here (until the test ends). The returned reader stands for a program with nothing
  // appended.
  std::unique_ptr<PayloadReader> BecomeNetInstaller(const std::wstring& address);
  // As above, but the program (a copy of the helper) carries the full package of
  // `full_installer` appended to it, as a full installer does: an elevated backend takes
  // its package out of its own program.
  std::unique_ptr<PayloadReader> BecomeFullInstaller(const base::FilePath& full_installer);

  int PostedInteger(const char* key);

  // Where the backends put shortcuts ("Desktop", "Programs", "Quick Launch").
  base::ScratchDir shell_;
  InstallerUIController::System system_;
  ScopedEnvironmentVariable shell_variable_{L"VELUM_TEST_SHELL_FOLDERS", shell_.path().value()};
  std::unique_ptr<base::ScopedCommandLine> command_line_;
  base::FilePath own_program_;
  std::function<void(InstallerUIController*)> script_ = [](InstallerUIController*) {};
  InstallerUIController* controller_ = nullptr;
  HWND window_ = nullptr;
  int windows_made_ = 0;
  // The questions asked, each answered Yes after |while_asking_| (when set) ran.
  std::vector<std::wstring> boxes_;
  std::function<void()> while_asking_;
  std::vector<std::wstring> opened_;
};

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONT_END_INSTALLER_UI_CONTROLLER_TEST_UTIL_H_
