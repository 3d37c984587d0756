#include "desktop/windows/installer/settings/status.h"

#include <utility>

#include "base/base_paths_win.h"
#include "base/files/file_enumerator.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_util.h"
#include "base/json/json_file_value_serializer.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/result.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/shortcut.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/settings/feature_flags.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/installation_info_impl.h"
#include "desktop/windows/installer/service/path_names.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/service/shortcut_targets.h"
#include "desktop/windows/installer/service/status_file_loader.h"
#include "desktop/windows/installer/service/install_log_reader.h"
#include "desktop/windows/installer/service/interrupted_runs/run_note.h"

namespace installer {

namespace {

const wchar_t kStartMenuFolderName[] = L"Velum Software";
const wchar_t kLegacyPreferencesName[] = L"velumprefs_default.ini";
// Read, write and execute on the install folder itself.
const uint32_t kFolderAccess = 0x1201BF;
// FILE_ADD_SUBDIRECTORY on the nearest existing ancestor.
const uint32_t kAncestorAccess = 4;

// Whether the link at `shortcut` names a target inside `folder` (by its own data: the
// target need not exist).
bool IsShortcutInto(const base::FilePath& shortcut, const base::FilePath& folder) {
  base::FilePath link_target;
  if (!base::ResolveShortcut(shortcut, &link_target)) return false;
  // The form the system opens: "..\\" steps taken, which could lead out of the folder.
  wchar_t full[MAX_PATH];
  const DWORD length = GetFullPathNameW(link_target.value().c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return false;
  const std::wstring target(full, length);
  const std::wstring prefix = folder.StripTrailingSeparators().value() + L"\\";
  return target.size() > prefix.size() &&
         base::FilePath::CompareIgnoreCase(target.substr(0, prefix.size()), prefix) == 0;
}

// The dictionary of a JSON file; a failure's kind is the reader's error code. Read
// without a preference store: a store moves a broken file aside, and the status must
// change nothing on disk.
base::Result<std::unique_ptr<base::Dictionary>> ReadJsonDictionary(const base::FilePath& path) {
  base::JsonFileReader reader(path, 0);
  int code = 0;
  std::string message;
  std::unique_ptr<base::Dictionary> values =
      base::Dictionary::From(reader.Deserialize(&code, &message));
  if (values) return values;
  return base::Failure{0, code, message.empty() ? "not a dictionary" : message, path};
}

int32_t TriStateOf(const base::Dictionary& values, const char* key) {
  bool flag = false;
  if (!values.GetBoolean(key, &flag))
    return -1;
  return flag ? 1 : 0;
}

}  // namespace

Status::System::System()
    : find_product_shortcuts(&FindProductShortcuts),
      windows_8_or_later(base::GetWindowsVersion() >= base::OS_VERSION_WIN8) {}

Status::Status(bool replace_legacy_installation, NamedSecurityInfo* security)
    : replace_legacy_installation_(replace_legacy_installation), security_(security) {}

Status::~Status() = default;

// static
std::unique_ptr<Status> Status::FromTarget(const InstallTarget& target,
                                           bool replace_legacy_installation) {
  auto status = std::make_unique<Status>(replace_legacy_installation);
  status->path_ = target.folder;
  status->valid_ = target.valid_install_path;
  status->given_target_ = std::make_unique<InstallTarget>(target);
  return status;
}

// static
const char* Status::GetLegacyStreamName(int32_t stream) {
  switch (stream) {
    case LEGACY_STREAM_NONE:
      return "";
    case LEGACY_STREAM_NEXT:
      return "Next";
    case LEGACY_STREAM_LABS:
      return "Labs";
    default:
      return "Invalid";
  }
}

InstallTarget Status::ToTarget() const {
  if (given_target_)
    return *given_target_;
  InstallTarget target;
  target.folder = path_;
  target.valid_install_path = valid_;
  target.existing_installation = record_ != nullptr;
  target.single_profile = single_profile_;
  if (record_) {
    target.copy_only = record_->copy_only;
    target.all_users = record_->all_users;
    target.record_kind = static_cast<int>(record_->source);
  }
  target.desktop_shortcut_found = desktop_shortcut_found_;
  target.start_menu_shortcut_found = start_menu_shortcut_found_;
  target.quick_launch_shortcut_found = quick_launch_shortcut_found_;
  target.pinned_shortcut_found = !pinned_shortcuts_.empty();
  target.import_browser_data = import_browser_data_;
  target.enable_stats = enable_stats_;
  target.handles_http = handles_http_;
  target.language = language_;
  return target;
}

void Status::Initialize(const base::FilePath& path, int32_t recovery_mode) {
  VLOG(1) << "Initializing status: " << path.value() << " with recovery mode "
          << recovery_mode;
  path_ = path;
  status_file_note_.clear();
  status_file_text_.clear();
  valid_ = false;
  invalid_reason_ = "empty";
  has_launcher_ = false;

  if (path.empty()) {
    VLOG(1) << "Path is empty";
    return;
  }
  if (const char* reason = GetInvalidPathReason(path.value(), true)) {
    VLOG(1) << "Path is not a valid Win32 path";
    invalid_reason_ = reason;
    return;
  }
  if (!path.IsAbsolute()) {
    VLOG(1) << "Path is relative";
    invalid_reason_ = "not absolute";
    return;
  }
  const bool is_folder = base::DirectoryExists(path);
  if (!is_folder && base::PathExists(path)) {
    VLOG(1) << "Path is a file path";
    invalid_reason_ = "a file";
    return;
  }
  if (!(is_folder && base::PathIsWritable(path)) &&
      GetDriveTypeW(path.value().substr(0, 3).c_str()) == DRIVE_CDROM) {
    VLOG(1) << "Path is to a non-writable CD-ROM";
    invalid_reason_ = "a read-only CD-ROM";
    return;
  }
  invalid_reason_.clear();

  if (is_folder) {
    VLOG(1) << "Path is a folder";
    existing_folder_ = path;
    valid_ = true;
    record_ = StatusFileLoader::Create()->Load(path, recovery_mode, &status_file_note_,
                                               &status_file_text_);
    // A record that is there but broken is not replaced by an older copy.
    if (!record_ && !base::PathExists(path.Append(kStatusFileName)))
      record_ = LoadInterruptedRunRecord(path);
    if (record_) {
      VLOG(1) << "Path is a existing installation";
      NormalizeRecordFlags();
      ReadExistingInstallation();
      // The legacy engine's settings stay known even when its record is not taken over.
      if (record_->source == SOURCE_LEGACY_LOG && !replace_legacy_installation_)
        record_.reset();
    } else {
      VLOG(1) << "Path is not an existing installation";
      has_launcher_ = base::PathExists(path.Append(kLauncherFileName));
      ReadExistingInstallation();
    }
    return;
  }
  InitializeFromExistingParent(path);
}

std::unique_ptr<InstallLog> Status::LoadInterruptedRunRecord(const base::FilePath& folder) {
  const base::FilePath copy = FindInterruptedRunRecord(folder, finishes_uninstallation_);
  if (copy.empty()) return nullptr;
  InstallLogReader reader;
  std::unique_ptr<InstallLog> record;
  reader.ParseFile(&record, copy, SOURCE_STATUS_FILE);
  if (!record) {
    LOG(WARNING) << "Cannot read the record " << copy.AsUTF8() << ": " << reader.error;
    return nullptr;
  }
  // Finishing that run puts it back before anything else is done.
  LOG(INFO) << "The record of the installation is " << copy.AsUTF8()
            << ", set aside by a run that was cut short";
  status_file_note_.clear();
  status_file_text_.clear();
  return record;
}

void Status::InitializeFromExistingParent(const base::FilePath& path) {
  for (base::FilePath current = path;;) {
    const base::FilePath parent = current.DirName();
    if (parent == current) {
      VLOG(1) << "Path is a root folder that's not valid" << "(probably invalid drive letter)";
      valid_ = false;
      invalid_reason_ = "no such drive";
      return;
    }
    if (base::DirectoryExists(parent)) {
      VLOG(1) << "Path is valid";
      existing_folder_ = parent;
      valid_ = true;
      ReadExistingInstallation();
      return;
    }
    if (base::PathExists(parent)) {
      VLOG(1) << "Path is child of a file (invalid)";
      valid_ = false;
      invalid_reason_ = "below a file";
      return;
    }
    current = parent;
  }
}

void Status::NormalizeRecordFlags() {
  const bool has_shortcut = !record_->desktop_shortcut.empty() ||
                            !record_->menu_shortcut.empty() ||
                            !record_->quick_launch_shortcut.empty();
  const bool has_registry = !record_->machine_registry.empty() || !record_->user_registry.empty();
  record_->copy_only = record_->copy_only && !has_shortcut && !has_registry;
  record_->all_users =
      !record_->copy_only && (record_->all_users || !record_->machine_registry.empty());
}

void Status::TestShortcuts() {
  VLOG(1) << "Testing shortcuts";
  const std::wstring executable = base::UTF8ToWide(GetExecutableFileName());
  const struct {
    base::FilePath path;
    bool launcher;
  } targets[] = {
      {path_.Append(kLauncherFileName), true},
      {path_.Append(executable), false},
      {path_.Append(record_->subfolder).Append(executable), false},
  };
  for (const auto& target : targets) {
    // A missing target (a launcher a killed run set aside) is still told by its path.
    BY_HANDLE_FILE_INFORMATION information = {};
    const BY_HANDLE_FILE_INFORMATION* identity =
        base::PathExists(target.path) && GetFileInformation(target.path, &information)
            ? &information
            : nullptr;
    const struct {
      const std::wstring& shortcut;
      bool* found;
      bool* found_for_executable;
      bool start_menu;
    } places[] = {
        {record_->desktop_shortcut, &desktop_shortcut_found_, &desktop_found_for_executable_,
         false},
        {record_->menu_shortcut, &start_menu_shortcut_found_, &start_menu_found_for_executable_,
         true},
        {record_->quick_launch_shortcut, &quick_launch_shortcut_found_,
         &quick_launch_found_for_executable_, false},
    };
    for (const auto& place : places) {
      if (*place.found)
        continue;
      *place.found = TestShortcut(base::FilePath(place.shortcut), target.path, identity);
      // From Windows 8 the Start menu shortcut is counted as the executable's whatever
      // the test says.
      if (place.start_menu && system_.windows_8_or_later)
        *place.found_for_executable = true;
      else if (!target.launcher && *place.found)
        *place.found_for_executable = true;
    }
    if (pinned_shortcuts_.empty()) {
      system_.find_product_shortcuts(target.path, record_->app_id, identity, &pinned_shortcuts_);
      if (!pinned_shortcuts_.empty() && !target.launcher)
        pinned_found_for_executable_ = true;
    }
    if (suffixed_pinned_shortcuts_.empty()) {
      system_.find_product_shortcuts(target.path, record_->GetSuffixedAppId(), identity,
                                     &suffixed_pinned_shortcuts_);
    }
  }
  if (!start_menu_folder_exists_) {
    base::FilePath programs;
    if (base::PathRegistry::Get(base::DIR_START_MENU, &programs) &&
        base::DirectoryExists(programs.Append(kStartMenuFolderName))) {
      start_menu_folder_exists_ = true;
      start_menu_folder_ = programs.Append(kStartMenuFolderName);
    }
  }
}

void Status::TestOtherRecordedShortcuts() {
  const struct {
    const std::wstring& shortcut;
    bool* found;
    bool* found_for_executable;
  } places[] = {
      {record_->desktop_shortcut, &desktop_shortcut_found_, &desktop_found_for_executable_},
      {record_->menu_shortcut, &start_menu_shortcut_found_, &start_menu_found_for_executable_},
      {record_->quick_launch_shortcut, &quick_launch_shortcut_found_,
       &quick_launch_found_for_executable_},
  };
  for (const auto& place : places) {
    if (*place.found || place.shortcut.empty()) continue;
    const base::FilePath shortcut(place.shortcut);
    // One into the install folder is the installation's whatever it starts; one that a
    // run cut short set aside was not removed by the user. Both are made anew.
    if (base::PathExists(shortcut) ? IsShortcutInto(shortcut, path_)
                                   : IsSetAsideByInterruptedRun(path_, shortcut, true))
      *place.found = *place.found_for_executable = true;
  }
}

void Status::ReadExistingInstallation() {
  if (record_) {
    TestShortcuts();
    TestOtherRecordedShortcuts();
  }
  if (valid_) {
    VLOG(1) << "Determining write access";
    write_access_ = HasAccess(existing_folder_.value(), kFileObject,
                              existing_folder_ == path_ ? kFolderAccess : kAncestorAccess,
                              security_);
  }
  if (!record_) {
    ReadLegacyPreferences();
    return;
  }
  const bool legacy = record_->source == SOURCE_LEGACY_LOG;
  const base::FilePath preferences = path_.Append(kInstallerPrefsFileName);
  const bool have_preferences = base::PathExists(preferences);
  const base::Result<std::unique_ptr<base::Dictionary>> values =
      have_preferences ? ReadJsonDictionary(preferences)
                       : base::Failure{0, 0, "no such file", preferences};
  VLOG(1) << "Determining whether we handled http";
  {
    FolderInstallationInfo installation(path_, FolderInstallationInfo::LeaveBrokenPrefsAlone());
    handles_http_ = installation.IsDefaultHandler(L"http", legacy);
  }
  VLOG(1) << "Reading exisitng tracking data";
  server_tracking_data_.clear();
  if (!base::ReadFileToString(path_.Append(kTrackingDataFileName), &server_tracking_data_))
    server_tracking_data_.clear();
  if (legacy || !have_preferences) {
    ReadLegacyPreferences();
    return;
  }
  VLOG(1) << "Reading existing prefs";
  if (values.ok()) {
    ReadPreferences(*values.value());
  } else {
    // What does not depend on the file is still known; the installation's own choices
    // (profile mode, language, statistics, experiments) are not.
    LOG(WARNING) << "Could not read " << preferences.AsUTF8() << ": " << values.failure().text;
    LOG(WARNING) << "The installer preferences of the existing installation cannot be read; "
                    "its profile mode, language and statistics choices are unknown";
  }
  ReadUserProfile();
}

void Status::ReadPreferences(const base::Dictionary& values) {
  single_profile_ = TriStateOf(values, "single_profile");
  import_browser_data_ = TriStateOf(values, "import_browser_data");
  enable_stats_ = TriStateOf(values, "enable_stats");
  std::string text;
  if (values.GetString("language", &text))
    language_ = base::UTF8ToWide(text);
  if (values.GetString("welcome-url", &text))
    welcome_url_ = text;

  VLOG(1) << "Reading existing experiments status";
  const base::List* list = nullptr;
  if (values.GetList("all-installer-experiments", &list)) {
    RegisterInstallerFlags(&experiments_);
    base::ListFeatureReader reader(*list);
    experiments_.ApplyReader(&reader);
    if (experiments_.IsEnabled("installer-experiment-test"))
      LOG(INFO) << "Test experiment was enabled in install folder.";
  }
}

void Status::ReadUserProfile() {
  VLOG(1) << "Finding current user profile";
  FolderInstallationInfo installation(path_, FolderInstallationInfo::LeaveBrokenPrefsAlone());
  base::FilePath user_data;
  if (!installation.GetUserDataFolder(&user_data))
    return;
  user_data_folder_ = user_data;
  // A profile the browser has not written yet has no "Local State": nothing to read.
  const base::Result<std::unique_ptr<base::Dictionary>> local_state =
      ReadJsonDictionary(user_data.Append(L"Local State"));
  VLOG(1) << "Obtaining current user language";
  std::string text;
  // The browser's own choice wins over the installer's.
  if (local_state.ok() && local_state.value()->GetString("intl.app_locale", &text))
    language_ = base::UTF8ToWide(text);
}

void Status::ReadLegacyPreferences() {
  VLOG(1) << "Reading old product type";
  const base::FilePath ini = path_.Append(kLegacyPreferencesName);
  if (!base::PathExists(ini))
    return;
  const wchar_t* file = ini.value().c_str();
  const int product = static_cast<int>(GetPrivateProfileIntW(L"System", L"Velum Product", 0, file));
  legacy_stream_ = product == LEGACY_STREAM_NEXT || product == LEGACY_STREAM_LABS
                       ? product
                       : LEGACY_STREAM_NONE;
  // Only reached when there were no installer preferences to read.
  VLOG(1) << "Reading old basalt prefs";
  const int multi_user = static_cast<int>(GetPrivateProfileIntW(L"System", L"Multi User", -1, file));
  if (multi_user != -1)
    single_profile_ = multi_user == 0 ? 1 : 0;
  const DWORD kBufferSize = MAX_PATH + 1;
  wchar_t directory[kBufferSize] = {};
  const DWORD length = GetPrivateProfileStringW(L"User Prefs", L"Language Files Directory", L"",
                                                directory, kBufferSize, file);
  // A full buffer means a cut-off directory: its last component would be wrong.
  if (length != kBufferSize - 1)
    language_ = base::FilePath(directory).StripTrailingSeparators().BaseName().value();
}

}  // namespace installer
