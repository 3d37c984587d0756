// The implementation of InstallationInfo, and FolderInstallationInfo for an explicit
// install folder.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_INFO_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_INFO_IMPL_H_

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "base/memory/ref_counted.h"
#include "desktop/windows/installer/service/com_object_factory.h"
#include "desktop/windows/installer/service/installation_info.h"
#include "desktop/windows/installer/service/install_log.h"

namespace installer {

struct RegistryEntryDefinition;

// The parts of Windows that the default-browser work asks; tests replace them, since
// Wine implements neither the association nor the activation services.
struct AssociationSystem {
  // The running system's.
  static AssociationSystem Current();

  // base::OsVersion index.
  int os_version;
  ComObjectFactory create_com_object;
  // Shows the open-with dialog that registers `name` (an extension or a protocol).
  std::function<HRESULT(const std::wstring& name)> open_with_dialog;
};

class InstallationInfoImpl : public InstallationInfo {
 public:
  // The installation that holds the running executable: its folder, or the parent
  // folder when only that one holds "launcher.exe".
  InstallationInfoImpl();
  explicit InstallationInfoImpl(const base::FilePath& install_folder);
  // Takes `install_log` (a fresh record when null); the record file is never read.
  InstallationInfoImpl(const base::FilePath& install_folder,
                       std::unique_ptr<InstallLog> install_log);
  // A view that changes nothing on disk: a broken "installer_prefs.json" is read as empty
  // and left where it is (a store reading it would move it aside).
  struct LeaveBrokenPrefsAlone {};
  InstallationInfoImpl(const base::FilePath& install_folder, LeaveBrokenPrefsAlone);
  ~InstallationInfoImpl() override;
  InstallationInfoImpl(const InstallationInfoImpl&) = delete;
  InstallationInfoImpl& operator=(const InstallationInfoImpl&) = delete;

  void OpenInstallerPrefs(base::scoped_refptr<JsonPrefStore>* store) override;
  bool GetPrefBool(const std::string& key, bool* out) override;
  bool GetPrefWideString(const std::string& key, std::wstring* out) override;
  bool GetPrefString(const std::string& key, std::string* out) override;
  bool GetPrefInt64(const std::string& key, int64_t* out) override;
  const base::FilePath& GetInstallFolder() const override { return install_folder_; }
  InstallLog* GetInstallLog() override { return install_log_.get(); }
  bool IsCopyOnly() override;
  bool IsDefaultBrowser() override;
  bool GetHandlerCommand(const std::wstring& name, bool machine_wide,
                         std::wstring* command) override;
  bool IsDefaultHandler(const std::wstring& name, bool use_product_executable) override;
  bool IsDefaultStartMenuInternet() override;
  bool IsSingleProfile() override;
  bool GetPreviousDefaultBrowser(std::wstring* command) override;
  bool SavePreviousDefaultBrowser(const std::wstring& command, bool machine_wide) override;
  bool RememberPreviousDefaultBrowser(bool machine_wide) override;
  bool SetAsDefaultBrowser(bool machine_wide) override;
  bool RegisterClasses(bool machine_wide) override;
  bool SetAsDefaultHandler(const std::wstring& name, bool machine_wide) override;
  bool SetAsDefaultStartMenuInternet(bool machine_wide) override;
  std::wstring GetAppUserModelId() override;
  std::wstring GetAutoupdateTaskName() override;
  bool GetUserDataFolder(base::FilePath* out) override;
  bool GetProfileFolder(base::FilePath* out) override;
  bool GetUserDataFolderForAllUsers(base::FilePath* out) override;
  bool GetUserDataFolderForStream(base::FilePath* out, int32_t stream) override;
  void RebaseAppDataPath(const base::FilePath& in, base::FilePath* out) override;

  // SetAsDefaultHandler in the form the system accepts: for all users before Windows 8,
  // for the current user from Windows 8 on, where the machine-wide form is refused.
  bool SetAsDefaultHandlerWherePossible(const std::wstring& name);

  void SetAssociationSystemForTesting(const AssociationSystem& system) { system_ = system; }

 private:
  void LoadProfileSettings();
  void LoadInstallLog();
  bool BuildUserDataFolder(base::FilePath* out, int32_t stream);
  // install folder + "profile", when single-profile.
  bool GetSingleProfileFolder(base::FilePath* out);
  // Applies `count` rows in one transaction under the machine's or the user's root;
  // rolled back on the first failure.
  bool ApplyRegistryTable(const RegistryEntryDefinition* rows, size_t count,
                          const std::wstring& association_name, bool machine_wide);
  // "{Product}{Stream}".
  std::wstring GetClassName() const;

  base::scoped_refptr<JsonPrefStore> installer_prefs_;
  bool leave_broken_prefs_alone_ = false;
  base::FilePath install_folder_;
  std::wstring profile_path_template_;
  bool install_log_loaded_;
  std::unique_ptr<InstallLog> install_log_;
  std::wstring registered_application_name_;
  AssociationSystem system_;
};

// The target of the default-apps settings page for `protocol`: the browser entry for
// "http", the mail entry for "mailto", else the protocol list.
std::wstring GetDefaultAppsSettingsTarget(const std::wstring& protocol);

// An installation given by its folder.
class FolderInstallationInfo : public InstallationInfoImpl {
 public:
  using InstallationInfoImpl::InstallationInfoImpl;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_INFO_IMPL_H_
