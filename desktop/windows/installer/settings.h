// The installation request: what to do, for whom, where and with which options. Read
// from the command line, changed by the front end through setters, and written back as
// the backend's command line.
#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_H_

#include <windows.h>
#include <stdint.h>

#include <bitset>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/observer_list.h"
#include "base/strings/string_piece.h"
#include "desktop/windows/installer/settings_observer.h"

namespace installer {

// What is known about the chosen install folder: the facts of the install-target status
// that the request itself reads.
struct InstallTarget {
  base::FilePath folder;
  bool valid_install_path = false;
  bool existing_installation = false;
  // Of an existing installation: 1 single profile, 0 not, -1 unknown.
  int single_profile = -1;
  bool copy_only = false;
  bool all_users = false;
  // Which of the recorded shortcuts were found.
  bool desktop_shortcut_found = false;
  bool start_menu_shortcut_found = false;
  bool quick_launch_shortcut_found = false;
  bool pinned_shortcut_found = false;
  // Of an existing installation: 1 yes, 0 no, -1 unknown.
  int import_browser_data = -1;
  int enable_stats = -1;
  // The record's kind (4 a legacy-engine installation) and whether it handles "http".
  int record_kind = 0;
  bool handles_http = false;
  std::wstring language;
};

// The system facts the request depends on; replaceable so that tests can pick them.
class SettingsPlatform {
 public:
  virtual ~SettingsPlatform() {}
  // With `use_linked_token`, a limited token whose elevated twin is an admin's counts.
  virtual bool IsUserAdmin(bool use_linked_token) = 0;
  virtual bool IsBeforeWindows7() = 0;
  // The build's channel: 1 nightly, 2 developer, 3 next, 4 stable.
  virtual int32_t GetChannel() = 0;
  // The standard folder of an all-users or a current-user installation.
  virtual base::FilePath GetStandardInstallFolder(bool all_users, int32_t architecture) = 0;
  // The folder remembered in the registry; empty when none.
  virtual base::FilePath GetRegistryInstallFolder(int32_t architecture) = 0;
  // One folder per suitable drive, best first.
  virtual std::vector<base::FilePath> GetStandaloneInstallPaths() = 0;
  // Whether two or more uninstall entries of this build's stream are registered.
  virtual bool HasSeveralUninstallEntries() = 0;
  // The folder of the installation this program belongs to.
  virtual base::FilePath GetInstalledProductFolder() = 0;
  // What is known about `folder` as an install target.
  virtual InstallTarget ExamineInstallTarget(const base::FilePath& folder,
                                             bool replace_basalt, bool autoupdate) = 0;
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
int RankOfDriveType(UINT drive_type);
// The standalone folders ("X:\" + product name), best rank first in drive order; after
// the first, drives ranked 5 or worse are left out.
std::vector<base::FilePath> OrderStandalonePaths(std::vector<StandaloneDrive> drives,
                                                 const std::wstring& product_name);

// Whether an uninstall subkey belongs to this product's `channel`: its name begins with
// "Velum", its publisher with "Velum Software", and its display name is the product name,
// a blank and a word naming the stream.
bool IsUninstallEntryOfStream(const std::wstring& key_name, const std::wstring& publisher,
                              const std::wstring& display_name,
                              const std::wstring& product_name, int32_t channel);
// Counts the matching subkeys of `key_path` under `root` in `view` into `*found`, stopping
// at two; returns whether two have been found.
bool CountUninstallEntries(HKEY root, REGSAM view, const std::wstring& key_path,
                           const std::wstring& product_name, int32_t channel, int* found);

class Settings {
 public:
  enum Operation : int32_t {
    OPERATION_INVALID = 0,
    OPERATION_INSTALL = 1,
    OPERATION_UPGRADE = 2,
    OPERATION_UNINSTALL = 3,
    OPERATION_REGISTER_PROTOCOL_HANDLER = 4,
  };

  enum Flag : int {
    COPY_ONLY = 0,
    SINGLE_PROFILE = 1,
    LAUNCH_VELUM = 2,
    ALL_USERS_FLAG = 3,
    DEFAULT_BROWSER = 4,
    IMPORT_BROWSER_DATA = 5,
    INSTALL_ASSISTANT = 6,
    ENABLE_VELUM_STATS = 7,
    ENABLE_INSTALLER_STATS = 8,
    DESKTOP_SHORTCUT = 9,
    START_MENU_SHORTCUT = 10,
    QUICK_LAUNCH_SHORTCUT = 11,
    PINNED_SHORTCUT = 12,
    UNINSTALL_FLAG = 13,
    SILENT = 14,
    AUTOUPDATE = 15,
    DELETE_PROFILE = 16,
    REPLACE_BASALT_INSTALLATION = 17,
    FLAG_COUNT = 18,
  };

  enum Mode : int { MODE_ALL_USERS = 0, MODE_CURRENT_USER = 1, MODE_STANDALONE = 2 };

  // Sources of GetDefaultInstallFolder, as a mask.
  enum FolderSource : int {
    SOURCE_STANDARD = 1,
    SOURCE_REGISTRY = 2,
    SOURCE_COMMAND_LINE = 4,
  };

  // `command_line` is the process's command line and `platform` the system; both must
  // outlive the settings.
  Settings(bool uninstall, bool silent, bool autoupdate, const base::FilePath& install_folder,
           bool replace_basalt, int32_t architecture, const base::CommandLine* command_line,
           SettingsPlatform* platform);
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;
  ~Settings();

  // The flag's name as the settings log it; empty outside 0-17.
  static const char* GetFlagName(int index);
  // A present switch value: "yes"/"true" in any case, or a non-zero leading integer.
  static bool ReadBooleanValue(base::StringPiece16 value);

  base::CommandLine ToCommandLine(bool elevated) const;

  void FromCommandLine();
  // Hands over what is known about the chosen folder; ignored while not changeable.
  void ApplyTarget(const InstallTarget& target);

  // Moves to `folder` unless it is already the target (drive letter in any case).
  void SetInstallFolder(const base::FilePath& folder);
  bool SetMode(int mode);
  void SetInstallLanguage(const std::wstring& code);
  bool SetFlag(int index, bool value);
  bool SetCopyOnly(bool value);
  bool SetAllUsers(bool value);
  bool SetDefaultBrowser(bool value);
  bool SetDeleteProfile(bool value);
  void SetEnableStats(bool value);
  void SetEnableInstallerStats(bool value);
  void SetImportBrowserData(bool value);
  void set_changeable(bool changeable) { changeable_ = changeable; }

  base::FilePath GetDefaultInstallFolder(int sources) const;
  std::vector<base::FilePath> GetInstallFolderSuggestions() const;

  int32_t operation() const { return operation_; }
  bool flag(int index) const;
  // Derived: standalone with COPY_ONLY, else all users or current user.
  Mode mode() const;
  const std::wstring& install_language() const { return install_language_; }
  const base::FilePath& install_folder() const { return target_.folder; }
  const InstallTarget& target() const { return target_; }
  bool changeable() const { return changeable_; }
  bool can_delete_profile() const { return can_delete_profile_; }
  const base::FilePath& profile_folder() const { return profile_folder_; }
  const std::string& niuid() const { return niuid_; }
  const std::string& medium() const { return medium_; }
  int32_t architecture() const { return architecture_; }

  void AddObserver(SettingsObserver* observer) { observers_.AddObserver(observer); }
  void RemoveObserver(SettingsObserver* observer) { observers_.RemoveObserver(observer); }

 private:
  // Sets `flag` from `name` when present; returns whether it was present.
  bool ReadFlag(const char* name, int flag);
  void ApplyCopyOnlyRule(bool copy_only);
  void LogFlags() const;

  int32_t operation_ = OPERATION_INVALID;
  std::bitset<FLAG_COUNT> flags_;
  std::wstring install_language_;
  InstallTarget target_;
  bool target_applied_ = false;
  bool changeable_ = true;
  base::ObserverList<SettingsObserver> observers_;
  bool can_delete_profile_ = true;
  base::FilePath command_line_install_folder_;
  base::FilePath registry_install_folder_;
  base::FilePath profile_folder_;
  std::vector<base::FilePath> standalone_install_paths_;
  int32_t architecture_;
  std::string niuid_;
  std::string medium_;
  const base::CommandLine* command_line_;
  SettingsPlatform* platform_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_H_
