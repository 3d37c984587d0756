// The fixture of tests that run the installation engine whole: a silent request for an
// install folder in a scratch folder, the test package as the running installer's
// folder, a private HKEY_CURRENT_USER, and the shortcut folders and the temporary folder
// inside the scratch folder.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_TEST_UTIL_H_

#include <windows.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_path.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/win/scoped_generic.h"
#include "base/message_loop/message_loop.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/steps/installer_system_test_util.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/service/transactions/registry_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"

namespace installer {
namespace testing {

extern const char kV1[];
extern const char kV2[];
extern const char kV3[];

// The user's keys that installations write in (company, classes, clients, registered
// applications, App Paths, uninstall entries, compatibility flags).
std::vector<std::wstring> GetProductRegistryKeys();

// Everything one run needs; the run happens in Run().
struct InstallationRun {
  std::vector<std::wstring> switches;
  bool uninstall = false;
  bool autoupdate = false;
  bool valid_folder = true;
  std::string version = kV1;
  bool writable_folder = true;
  // Called with the installer before it begins.
  std::function<void(Installer*)> prepare;
  // The step at this index of the list fails after it ran, as if it had failed itself.
  std::optional<size_t> failing_step;
  // The run is cut short (a power cut) after the step at this index: the install folder
  // and the shortcut folders stay as the run left them then. Its registry changes are
  // undone.
  std::optional<size_t> cut_after_step;
  // Called with each observer line, and the installer.
  std::function<void(const std::string&, Installer*)> on_event;
  // Results.
  std::vector<std::string> events;
  bool succeeded = false;
  int32_t operation = -1;
};

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void UsePackage(const base::FilePath& folder);
  // A copy of a test package in the scratch folder, for tests that change or lock it or
  // leave files in it.
  base::FilePath CopyPackage(const wchar_t* name = L"test_pkg");
  void Run(InstallationRun* run);
  // The file tree of the scratch folder and the registry keys the product writes in.
  std::string Snapshot();
  std::unique_ptr<InstallLog> ReadRecord(const base::FilePath& path);
  std::vector<base::FilePath> OldStatusFiles();
  void Install(const char* version = kV1);

  base::MessageLoop loop_;
  base::ScratchDir scratch_;
  base::FilePath original_exe_folder_;
  base::ScopedComInitializer com_;
  base::FilePath install_folder_;
  base::FilePath package_;
  // Where the shortcuts of the run go.
  base::FilePath desktop_;
  base::FilePath start_menu_;
  base::FilePath quick_launch_;
  base::FilePath temp_;
  std::vector<std::pair<int, base::FilePath>> original_folders_;
  base::ScopedHandle interrupted_;
  // The run writes under HKEY_CURRENT_USER, which other test programs share.
  PrivateUserHive user_hive_;
  // Runs never reach the machine's task scheduler, firewall or browsers.
  FakeInstallerSystem system_services_;
};

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_TEST_UTIL_H_
