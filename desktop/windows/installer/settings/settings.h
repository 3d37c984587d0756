// The installation request: what to do, for whom, where and with which options. Read
// from the command line, changed by the front end through setters, and written back as
// the backend's command line. It owns the Status of the install folder: every change of
// folder fetches a fresh Status on a worker thread ("FetchStatus") and re-derives the
// operation and the flags from it when the reply arrives; observers hear OnPathChanged.
// On a thread without a message loop the Status is fetched on the calling thread.
//
// The implementation is split by concern: settings.cc (construction, flags, setters),
// settings_command_line.cc (reading and writing switches), settings_default_folder.cc
// (default folders and modes), settings_status.cc (fetching and applying the Status,
// statistics) and settings_platform.cc (the system facts).
#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_H_

#include <windows.h>
#include <stdint.h>

#include <bitset>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"
#include "base/memory/weak_ptr.h"
#include "base/observer_list.h"
#include "base/strings/string_piece.h"
#include "desktop/windows/installer/settings/settings_observer.h"
#include "desktop/windows/installer/settings/settings_platform.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

class StatsNode;
class StatusRequest;

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
  [[nodiscard]] static bool ReadBooleanValue(base::StringPiece16 value);

  base::CommandLine ToCommandLine(bool elevated) const;

  void FromCommandLine();
  // Hands over what is known about the chosen folder; ignored while not changeable.
  void ApplyTarget(const InstallTarget& target);
  // Takes `status` as the Status of the install folder; dropped while not changeable.
  void ApplyStatus(std::unique_ptr<Status> status);

  // Moves to `folder` unless it is already the target (drive letter in any case).
  void SetInstallFolder(const base::FilePath& folder);
  [[nodiscard]] bool SetMode(int mode);
  void SetInstallLanguage(const std::wstring& code);
  [[nodiscard]] bool SetFlag(int index, bool value);
  [[nodiscard]] bool SetCopyOnly(bool value);
  [[nodiscard]] bool SetAllUsers(bool value);
  [[nodiscard]] bool SetDefaultBrowser(bool value);
  [[nodiscard]] bool SetDeleteProfile(bool value);
  void set_changeable(bool changeable) { changeable_ = changeable; }

  base::FilePath GetDefaultInstallFolder(int sources) const;
  std::vector<base::FilePath> GetInstallFolderSuggestions() const;

  // Records the request under `prefix` in the statistics record; nothing without a node.
  void WriteStats(const std::string& prefix, StatsNode* node) const;

  int32_t operation() const { return operation_; }
  // Why the operation is invalid ("no installation to uninstall", or the folder's fault).
  const std::string& invalid_reason() const { return invalid_reason_; }
  bool flag(int index) const;
  // Derived: standalone with COPY_ONLY, else all users or current user.
  Mode mode() const;
  const std::wstring& install_language() const { return install_language_; }
  const base::FilePath& install_folder() const { return target_.folder; }
  const InstallTarget& target() const { return target_; }
  // Never null.
  const Status& status() const { return *status_; }
  // Whether a Status is being fetched.
  bool fetching_status() const { return pending_request_ != nullptr; }
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
  // SetFlag for the setters that are no-ops while the settings are fixed.
  void SetFlagIfChangeable(int index, bool value);
  void ApplyCopyOnlyRule(bool copy_only);
  void LogFlags() const;
  void LogStatus() const;
  // The reply of a "FetchStatus" request that is still wanted.
  void OnStatusFetched(StatusRequest* request);

  int32_t operation_ = OPERATION_INVALID;
  std::string invalid_reason_ = "no install folder";
  std::bitset<FLAG_COUNT> flags_;
  std::wstring install_language_;
  std::unique_ptr<Status> status_;
  // The facts of status_ that the request reads.
  InstallTarget target_;
  bool target_applied_ = false;
  base::scoped_refptr<StatusRequest> pending_request_;
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
  base::WeakPtrFactory<Settings> weak_factory_{this};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_H_
