// Test helpers for installation steps: a machine for Settings where the install folder
// holds an installation when it has a status file, and an InstallationContext whose
// parts a test sets directly.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLATION_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLATION_TEST_UTIL_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/steps/installer_system_test_util.h"
#include "desktop/windows/installer/service/held_tree.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_platform.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {
namespace testing {

// What the Status objects that TestSettingsPlatform builds ask of the system (taskbar pins
// are found through it); null for the real system. The caller keeps it alive.
void SetStatusSystemForTesting(const Status::System* system);

class TestSettingsPlatform : public SettingsPlatform {
 public:
  explicit TestSettingsPlatform(const base::FilePath& folder);
  bool IsUserAdmin(bool) override { return false; }
  bool IsBeforeWindows7() override { return false; }
  int32_t GetChannel() override { return 4; }
  base::FilePath GetStandardInstallFolder(bool, int32_t) override { return folder_; }
  base::FilePath GetRegistryInstallFolder(int32_t) override { return base::FilePath(); }
  std::vector<base::FilePath> GetStandaloneInstallPaths() override { return {}; }
  bool HasSeveralUninstallEntries() override { return false; }
  base::FilePath GetInstalledProductFolder() override { return folder_; }
  InstallTarget ExamineInstallTarget(const base::FilePath& folder, bool, bool) override;
  // The real Status of the folder, unless the test made it invalid or unwritable.
  std::unique_ptr<Status> BuildStatus(const base::FilePath& folder, bool replace_basalt,
                                      bool autoupdate) override;

  // Whether the folder may be installed to.
  bool valid = true;
  // Whether the user may create the folder.
  bool writable = true;
  // Whether the Status is an uninstallation's, as the uninstaller's command line makes it.
  bool uninstall = false;

 private:
  base::FilePath folder_;
};

// Settings of a silent request for `install_folder` with `switches`, once the Status of
// the folder has arrived.
class TestSettings {
 public:
  TestSettings(const base::FilePath& install_folder, const std::vector<std::wstring>& switches,
               bool uninstall = false, bool autoupdate = false, bool valid_folder = true,
               bool writable_folder = true);
  ~TestSettings();
  Settings* get() { return settings_.get(); }

 private:
  base::CommandLine command_line_;
  TestSettingsPlatform platform_;
  std::unique_ptr<Settings> settings_;
};

// Makes HKEY_CURRENT_USER of this process a scratch key until destroyed: installations
// write there, and other test programs share the real hive. The key holds "Software",
// as every user's hive does. path() names it under the real HKEY_CURRENT_USER.
class PrivateUserHive {
 public:
  PrivateUserHive();
  ~PrivateUserHive();
  PrivateUserHive(const PrivateUserHive&) = delete;
  PrivateUserHive& operator=(const PrivateUserHive&) = delete;
  // False when the hive could not be put in place.
  bool active() const { return active_; }
  const std::wstring& path() const { return scratch_.path(); }

 private:
  ScratchRegistryKey scratch_;
  HKEY key_ = nullptr;
  bool active_ = false;
};

// Sets an environment variable of this process until destroyed, then puts back what was
// there (or removes it).
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const wchar_t* name, const std::wstring& value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;
  // False when the variable could not be set.
  bool set() const { return set_; }

 private:
  std::wstring name_;
  std::wstring saved_;
  bool had_value_ = false;
  bool set_ = false;
};

// Copies every file of the test package `name` (test_package_test_util.h) into `target`;
// false when a file could not be copied.
[[nodiscard]] bool CopyTestPackage(const wchar_t* name, const base::FilePath& target);

class FakeInstallationContext : public InstallationContext {
 public:
  FakeInstallationContext();
  ~FakeInstallationContext() override;

  Settings* GetSettings() override { return settings; }
  Transaction* GetTransaction() override { return &transaction; }
  OsOperations* GetOsOperations() override { return nullptr; }
  const base::FilePath& GetPackageFolder() override { return package_folder; }
  const base::FilePath& GetInstallFolder() override { return install_folder; }
  const base::FilePath& GetTargetFolder() override { return install_folder; }
  InstallLog* GetInstallLog() override { return &install_log; }
  uint32_t GetSecondInstallerPid() override { return 0; }
  PlaceholderResolver* GetPlaceholderResolver() override { return nullptr; }
  bool HasPermissionHelper() override { return false; }
  void StartRegistryLogging() override {}
  void StopRegistryLogging() override {}
  void ReportImportantEvent(const std::string& name) override { events.push_back(name); }
  bool HasExistingInstallation() override { return existing_installation; }
  bool IsBasaltInstallation() override { return basalt_installation; }
  std::string GetServerTrackingData() override { return server_tracking_data; }
  std::vector<base::FilePath>* GetFilesLeftToCleanupBatch() override {
    return &files_left_to_cleanup_batch;
  }
  bool IsVersionFolderMadeByThisRun() override { return version_folder_made; }
  const InstallerSystem& GetSystem() override { return system ? *system : own_system.system; }
  // Held for as long as a deletion holds the tree, not for the context's life: tests
  // change the folder between steps.
  std::shared_ptr<HeldTree> GetHeldTree() override {
    HeldInstallFolder install;
    return install.Hold(install_folder).ok() ? held_trees.Get(&install) : nullptr;
  }

  Settings* settings = nullptr;
  Transaction transaction;
  base::FilePath package_folder;
  base::FilePath install_folder;
  InstallLog install_log;
  std::vector<std::string> events;
  bool existing_installation = false;
  bool basalt_installation = false;
  bool version_folder_made = false;
  std::string server_tracking_data;
  std::vector<base::FilePath> files_left_to_cleanup_batch;
  // The services the steps reach; null: own_system's fakes, never the machine's.
  const InstallerSystem* system = nullptr;
  FakeInstallerSystem own_system;
  HeldTreeSource held_trees;
};

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLATION_TEST_UTIL_H_
