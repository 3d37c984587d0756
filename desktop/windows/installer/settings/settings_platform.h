// The system facts the installation request depends on (administrator rights, Windows
// version, channel, standard and remembered folders, drives, uninstall entries, the
// install-target status), behind an interface that tests replace.
#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_PLATFORM_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_PLATFORM_H_

#include <windows.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

class SettingsPlatform {
 public:
  virtual ~SettingsPlatform() {}
  // With `use_linked_token`, a limited token whose elevated twin is an admin's counts.
  [[nodiscard]] virtual bool IsUserAdmin(bool use_linked_token) = 0;
  [[nodiscard]] virtual bool IsBeforeWindows7() = 0;
  // The build's channel: 1 nightly, 2 developer, 3 next, 4 stable.
  virtual int32_t GetChannel() = 0;
  // The standard folder of an all-users or a current-user installation; may be empty
  // when the system cannot name it.
  virtual base::FilePath GetStandardInstallFolder(bool all_users, int32_t architecture) = 0;
  // The folder remembered in the registry; empty when none.
  virtual base::FilePath GetRegistryInstallFolder(int32_t architecture) = 0;
  // One folder per suitable drive, best first.
  virtual std::vector<base::FilePath> GetStandaloneInstallPaths() = 0;
  // Whether two or more uninstall entries of this build's stream are registered.
  [[nodiscard]] virtual bool HasSeveralUninstallEntries() = 0;
  // The folder of the installation this program belongs to.
  virtual base::FilePath GetInstalledProductFolder() = 0;
  // What is known about `folder` as an install target.
  virtual InstallTarget ExamineInstallTarget(const base::FilePath& folder,
                                             bool replace_basalt, bool autoupdate) = 0;

  // The status of `folder`, made on a worker thread. By default it holds the facts of
  // ExamineInstallTarget.
  virtual std::unique_ptr<Status> BuildStatus(const base::FilePath& folder,
                                              bool replace_basalt, bool autoupdate);
  // The UI language for the system's preferred languages, and the language actually
  // used when `code` is asked for; both also become the process's UI language.
  virtual std::wstring SelectSystemLanguage() { return std::wstring(); }
  virtual std::wstring SelectLanguage(const std::wstring& code) { return code; }
  // A uniform integer from 0 to 99, for sampling what goes into the statistics.
  [[nodiscard]] virtual int RandomPercent();
};

// The real system.
SettingsPlatform* GetDefaultSettingsPlatform();

// The folder remembered under `key_path` of `root` for this build: the first of the
// candidate values that reads, taken only when it names an existing absolute directory.
base::FilePath ReadRegistryInstallFolder(HKEY root, const std::wstring& key_path,
                                         int32_t architecture, int32_t channel,
                                         const std::string& channel_name,
                                         const std::string& stream_name);

// A drive with media, ranked by its type: removable 0, remote 1, fixed 3, RAM disk 4,
// CD-ROM 5, unknown 6, no root directory 7.
struct StandaloneDrive {
  wchar_t letter;
  int rank;
};
[[nodiscard]] int RankOfDriveType(UINT drive_type);
// The standalone folders ("X:\" + product name), best rank first in drive order; after
// the first, drives ranked 5 or worse are left out.
std::vector<base::FilePath> OrderStandalonePaths(std::vector<StandaloneDrive> drives,
                                                 const std::wstring& product_name);

// Whether an uninstall subkey belongs to this product's `channel`: its name begins with
// "Velum", its publisher with "Velum Software", and its display name is the product name,
// a blank and a word naming the stream.
[[nodiscard]] bool IsUninstallEntryOfStream(const std::wstring& key_name,
                                            const std::wstring& publisher,
                                            const std::wstring& display_name,
                                            const std::wstring& product_name, int32_t channel);
// Counts the matching subkeys of `key_path` under `root` in `view` into `*found`, stopping
// at two; returns whether two have been found.
[[nodiscard]] bool CountUninstallEntries(HKEY root, REGSAM view, const std::wstring& key_path,
                                         const std::wstring& product_name, int32_t channel,
                                         int* found);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_PLATFORM_H_
