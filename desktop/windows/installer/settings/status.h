// Status: what is known about the folder chosen as install folder. Is the path usable,
// and what is installed there already (its installation record, shortcuts, preferences,
// the legacy engine's settings)? Status only reads; it changes nothing on disk.
//
//   Status status(/*replace_legacy_installation=*/false);
//   status.Initialize(folder, /*recovery_mode=*/0);
//   if (status.valid() && status.record()) ...  // an upgrade
#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_STATUS_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_STATUS_H_

#include <windows.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/features/feature_states.h"
#include "base/files/file_path.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/install_log.h"

namespace base {
class Dictionary;
}

namespace installer {

// The facts of a Status that the installation request reads.
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
  // The record's source (4 a legacy-engine installation) and whether it handles "http".
  int record_kind = 0;
  bool handles_http = false;
  std::wstring language;
};

class Status {
 public:
  // The stream of a legacy-engine installation, from its "velumprefs_default.ini".
  enum LegacyStream : int32_t {
    LEGACY_STREAM_UNKNOWN = -1,
    LEGACY_STREAM_NONE = 0,
    LEGACY_STREAM_NEXT = 1,
    LEGACY_STREAM_LABS = 2,
  };

  // What Status asks of the system that tests replace: Windows keeps taskbar pins'
  // application ids, which some systems do not.
  struct System {
    System();
    std::function<void(const base::FilePath& target, const std::string& app_id,
                       const BY_HANDLE_FILE_INFORMATION* target_information,
                       std::vector<std::wstring>* shortcuts)>
        find_product_shortcuts;
    bool windows_8_or_later;
  };

  // `replace_legacy_installation` keeps the record of a legacy-engine installation.
  // `security` (outliving the status) reads the install folder's access list.
  explicit Status(bool replace_legacy_installation,
                  NamedSecurityInfo* security = SystemNamedSecurityInfo());
  ~Status();
  Status(const Status&) = delete;
  Status& operator=(const Status&) = delete;

  // A status that knows only `target`'s facts, for callers that examine folders their
  // own way; it holds no record.
  static std::unique_ptr<Status> FromTarget(const InstallTarget& target,
                                            bool replace_legacy_installation);

  // "", "Next", "Labs", or "Invalid" for another value.
  static const char* GetLegacyStreamName(int32_t stream);

  // Evaluates `path` and reads what is installed there; `recovery_mode` goes to the
  // status file loader. Call once.
  void Initialize(const base::FilePath& path, int32_t recovery_mode);
  // Fills the facts of the installation found; called by Initialize.
  void ReadExistingInstallation();

  // The facts the installation request reads.
  InstallTarget ToTarget() const;

  void set_system_for_testing(const System& system) { system_ = system; }

  // For an uninstallation, called before Initialize: where the record is missing but an
  // uninstallation cut short while it committed left it set aside, that copy is the
  // installation's record, and this uninstallation finishes what the earlier began.
  void set_finishes_uninstallation(bool finishes) { finishes_uninstallation_ = finishes; }

  const InstallLog* record() const { return record_.get(); }
  const base::FilePath& path() const { return path_; }
  const base::FilePath& existing_folder() const { return existing_folder_; }
  bool valid() const { return valid_; }
  // Which rule an invalid folder broke, for the log; empty for a valid one.
  const std::string& invalid_reason() const { return invalid_reason_; }
  bool has_launcher() const { return has_launcher_; }
  bool replace_legacy_installation() const { return replace_legacy_installation_; }
  bool desktop_shortcut_found() const { return desktop_shortcut_found_; }
  bool start_menu_shortcut_found() const { return start_menu_shortcut_found_; }
  bool quick_launch_shortcut_found() const { return quick_launch_shortcut_found_; }
  bool start_menu_folder_exists() const { return start_menu_folder_exists_; }
  const base::FilePath& start_menu_folder() const { return start_menu_folder_; }
  uint32_t write_access() const { return write_access_; }
  const std::vector<std::wstring>& pinned_shortcuts() const { return pinned_shortcuts_; }
  const std::vector<std::wstring>& suffixed_pinned_shortcuts() const {
    return suffixed_pinned_shortcuts_;
  }
  bool desktop_found_for_executable() const { return desktop_found_for_executable_; }
  bool start_menu_found_for_executable() const { return start_menu_found_for_executable_; }
  bool quick_launch_found_for_executable() const { return quick_launch_found_for_executable_; }
  bool pinned_found_for_executable() const { return pinned_found_for_executable_; }
  bool handles_http() const { return handles_http_; }
  int32_t import_browser_data() const { return import_browser_data_; }
  int32_t enable_stats() const { return enable_stats_; }
  const std::wstring& language() const { return language_; }
  const std::string& welcome_url() const { return welcome_url_; }
  const std::string& server_tracking_data() const { return server_tracking_data_; }
  int32_t single_profile() const { return single_profile_; }
  int32_t legacy_stream() const { return legacy_stream_; }
  const base::FilePath& user_data_folder() const { return user_data_folder_; }
  const base::FeatureStates& experiments() const { return experiments_; }
  const std::string& status_file_note() const { return status_file_note_; }
  const std::string& status_file_text() const { return status_file_text_; }

 private:
  // For a path still to be made: the nearest existing folder above it, whose installation
  // facts are read; invalid when a file or a missing drive comes first.
  void InitializeFromExistingParent(const base::FilePath& path);
  // The record that a run cut short in `folder` set aside or moved, and that finishing
  // it puts back (its notes tell); null when none.
  std::unique_ptr<InstallLog> LoadInterruptedRunRecord(const base::FilePath& folder);
  // A copy-only record lists no shortcut and no registry key; a record with keys of the
  // machine's hive was made for all users.
  void NormalizeRecordFlags();
  void TestShortcuts();
  // The recorded shortcuts TestShortcuts did not tell: one into the install folder, or
  // one that a run cut short set aside, is found and made anew.
  void TestOtherRecordedShortcuts();
  // The facts of "installer_prefs.json" (`values`).
  void ReadPreferences(const base::Dictionary& values);
  // The user data folder and the language of its "Local State".
  void ReadUserProfile();
  // The legacy engine's "velumprefs_default.ini": its stream, and its profile mode and
  // language in place of the preferences.
  void ReadLegacyPreferences();

  std::unique_ptr<InstallLog> record_;
  bool desktop_shortcut_found_ = false;
  bool start_menu_shortcut_found_ = false;
  bool quick_launch_shortcut_found_ = false;
  bool start_menu_folder_exists_ = false;
  uint32_t write_access_ = 0;
  std::vector<std::wstring> pinned_shortcuts_;
  std::vector<std::wstring> suffixed_pinned_shortcuts_;
  bool desktop_found_for_executable_ = false;
  bool start_menu_found_for_executable_ = false;
  bool quick_launch_found_for_executable_ = false;
  bool pinned_found_for_executable_ = false;
  bool handles_http_ = false;
  int32_t import_browser_data_ = -1;
  int32_t enable_stats_ = -1;
  std::wstring language_;
  std::string welcome_url_;
  std::string server_tracking_data_;
  int32_t single_profile_ = -1;
  int32_t legacy_stream_ = LEGACY_STREAM_UNKNOWN;
  base::FilePath user_data_folder_;
  base::FilePath start_menu_folder_;
  base::FeatureStates experiments_;
  base::FilePath path_;
  base::FilePath existing_folder_;
  std::string status_file_note_;
  std::string status_file_text_;
  bool valid_ = false;
  std::string invalid_reason_;
  bool has_launcher_ = false;
  bool finishes_uninstallation_ = false;
  const bool replace_legacy_installation_;
  NamedSecurityInfo* const security_;
  System system_;
  // Facts given by FromTarget that no record stands behind.
  std::unique_ptr<InstallTarget> given_target_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_STATUS_H_
