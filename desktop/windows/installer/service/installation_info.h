// InstallationInfo: what one installation of the browser is: its install folder, its
// installer preferences, its installation record, its profile and user data folders,
// the names it registers under, and whether it is the default browser and handler.
//
//   InstallationInfo* info = InstallationInfo::GetInstance();  // the running installer's
//   FolderInstallationInfo other(folder);                     // any install folder
//   base::FilePath data;
//   if (other.GetUserDataFolder(&data)) ...
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_INFO_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_INFO_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"

class JsonPrefStore;

namespace installer {

class InstallLog;

class InstallationInfo {
 public:
  // The instance of the installation that holds the running installer, made on the
  // first call (main thread only) and deleted at process exit.
  static InstallationInfo* GetInstance();

  virtual ~InstallationInfo() = default;

  // The store on "installer_prefs.json" of the install folder, read on first use.
  virtual void OpenInstallerPrefs(base::scoped_refptr<JsonPrefStore>* store) = 0;
  // True when `key` holds a value of that type; `out` (may be null) then receives it.
  [[nodiscard]] virtual bool GetPrefBool(const std::string& key, bool* out) = 0;
  [[nodiscard]] virtual bool GetPrefWideString(const std::string& key, std::wstring* out) = 0;
  [[nodiscard]] virtual bool GetPrefString(const std::string& key, std::string* out) = 0;
  // A string preference that reads whole as a decimal 64-bit number.
  [[nodiscard]] virtual bool GetPrefInt64(const std::string& key, int64_t* out) = 0;

  virtual const base::FilePath& GetInstallFolder() const = 0;
  // The record as held now; this does not load it.
  virtual InstallLog* GetInstallLog() = 0;
  [[nodiscard]] virtual bool IsCopyOnly() = 0;

  // Default browser and associations. A name starting with "." is a file extension,
  // any other a protocol.
  [[nodiscard]] virtual bool IsDefaultBrowser() = 0;
  [[nodiscard]] virtual bool GetHandlerCommand(const std::wstring& name, bool machine_wide,
                                 std::wstring* command) = 0;
  [[nodiscard]] virtual bool IsDefaultHandler(const std::wstring& name, bool use_product_executable) = 0;
  [[nodiscard]] virtual bool IsDefaultStartMenuInternet() = 0;

  [[nodiscard]] virtual bool IsSingleProfile() = 0;

  [[nodiscard]] virtual bool GetPreviousDefaultBrowser(std::wstring* command) = 0;
  [[nodiscard]] virtual bool SavePreviousDefaultBrowser(const std::wstring& command, bool machine_wide) = 0;
  [[nodiscard]] virtual bool RememberPreviousDefaultBrowser(bool machine_wide) = 0;
  // Whether the browser is the default afterwards.
  [[nodiscard]] virtual bool SetAsDefaultBrowser(bool machine_wide) = 0;
  [[nodiscard]] virtual bool RegisterClasses(bool machine_wide) = 0;
  [[nodiscard]] virtual bool SetAsDefaultHandler(const std::wstring& name, bool machine_wide) = 0;
  [[nodiscard]] virtual bool SetAsDefaultStartMenuInternet(bool machine_wide) = 0;

  // "VelumSoftware.VelumWebBrowser." + the record's app id.
  virtual std::wstring GetAppUserModelId() = 0;
  // "Autoupdate " + the record's app id.
  virtual std::wstring GetAutoupdateTaskName() = 0;

  // The user data folder of the build's own stream.
  [[nodiscard]] virtual bool GetUserDataFolder(base::FilePath* out) = 0;
  [[nodiscard]] virtual bool GetProfileFolder(base::FilePath* out) = 0;
  // The folder holding every user's data when the profile path ends in "<USERNAME>".
  [[nodiscard]] virtual bool GetUserDataFolderForAllUsers(base::FilePath* out) = 0;
  [[nodiscard]] virtual bool GetUserDataFolderForStream(base::FilePath* out, int32_t stream) = 0;
  // `in` moved from the roaming to the local application data folder, when no profile
  // path is set; otherwise `in` itself.
  virtual void RebaseAppDataPath(const base::FilePath& in, base::FilePath* out) = 0;
};

// Makes the process-wide instance's implementation.
InstallationInfo* CreateInstallationInfo();
// The installation in |install_folder|, for a caller that asks about a folder other than
// the running installer's.
std::unique_ptr<InstallationInfo> CreateInstallationInfoFor(const base::FilePath& install_folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_INFO_H_
