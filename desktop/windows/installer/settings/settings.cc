#include "desktop/windows/installer/settings/settings.h"

#include "base/logging.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/settings/settings_status_request.h"

namespace installer {

namespace {

const char* const kFlagNames[Settings::FLAG_COUNT] = {
    "COPY_ONLY",           "SINGLE_PROFILE",
    "LAUNCH_VELUM",        "ALL_USERS_FLAG",
    "DEFAULT_BROWSER",     "IMPORT_BROWSER_DATA",
    "INSTALL_ASSISTANT",   "ENABLE_VELUM_STATS",
    "ENABLE_INSTALLER_STATS", "DESKTOP_SHORTCUT",
    "START_MENU_SHORTCUT", "QUICK_LAUNCH_SHORTCUT",
    "PINNED_SHORTCUT",     "UNINSTALL_FLAG",
    "SILENT",              "AUTOUPDATE",
    "DELETE_PROFILE",      "REPLACE_BASALT_INSTALLATION",
};

}  // namespace

Settings::Settings(bool uninstall, bool silent, bool autoupdate,
                   const base::FilePath& install_folder, bool replace_basalt,
                   int32_t architecture, const base::CommandLine* command_line,
                   SettingsPlatform* platform)
    : command_line_install_folder_(install_folder.NormalizePathSeparators()),
      architecture_(architecture),
      command_line_(command_line),
      platform_(platform) {
  flags_[UNINSTALL_FLAG] = uninstall;
  flags_[SILENT] = silent;
  flags_[AUTOUPDATE] = autoupdate;
  flags_[REPLACE_BASALT_INSTALLATION] = replace_basalt;
  status_ = std::make_unique<Status>(replace_basalt);
  registry_install_folder_ = platform_->GetRegistryInstallFolder(architecture_);
  standalone_install_paths_ = platform_->GetStandaloneInstallPaths();
  LOG(INFO) << "Obtaining system language";
  install_language_ = platform_->SelectSystemLanguage();
  LOG(INFO) << "Initializing settings";
  if (uninstall) {
    ReadFlag(switches::kDeleteUserProfile, DELETE_PROFILE);
    // Deleting the profile is only offered when one installation uses it.
    if (!command_line_->HasSwitch(switches::kBackend) && platform_->HasSeveralUninstallEntries())
      can_delete_profile_ = false;
    SetInstallFolder(platform_->GetInstalledProductFolder());
    return;
  }
  if (command_line_->HasSwitch(switches::kLanguage))
    SetInstallLanguage(command_line_->GetSwitchValueNative(switches::kLanguage));
  FromCommandLine();
  // A 32-bit installation remembered by an x64 installer is only followed when there is
  // something to upgrade there; otherwise the x64 build goes to its own standard folder.
  base::FilePath x86_program_files = platform_->GetStandardInstallFolder(true, 0).DirName();
  if (architecture_ == 1 && command_line_install_folder_.empty() &&
      !registry_install_folder_.empty() && x86_program_files.IsParent(registry_install_folder_)) {
    std::unique_ptr<Status> status = platform_->BuildStatus(
        registry_install_folder_, flags_[REPLACE_BASALT_INSTALLATION], flags_[AUTOUPDATE]);
    if (status->ToTarget().existing_installation)
      ApplyStatus(std::move(status));
    else
      SetInstallFolder(GetDefaultInstallFolder(SOURCE_STANDARD));
    return;
  }
  SetInstallFolder(GetDefaultInstallFolder(SOURCE_COMMAND_LINE | SOURCE_REGISTRY |
                                           SOURCE_STANDARD));
}

Settings::~Settings() {
  LOG(INFO) << "Destroying settings";
  // A worker may still be building a Status: its reply must find nothing to call.
  if (pending_request_)
    pending_request_->ResetReply();
}

// static
const char* Settings::GetFlagName(int index) {
  if (index < 0 || index >= FLAG_COUNT)
    return "";
  return kFlagNames[index];
}

bool Settings::flag(int index) const {
  if (index < 0 || index >= FLAG_COUNT)
    return false;
  return flags_[index];
}

Settings::Mode Settings::mode() const {
  if (flags_[COPY_ONLY])
    return MODE_STANDALONE;
  return flags_[ALL_USERS_FLAG] ? MODE_ALL_USERS : MODE_CURRENT_USER;
}

void Settings::SetInstallLanguage(const std::wstring& code) {
  if (!changeable_ || code == install_language_)
    return;
  install_language_ = code;
  LOG(INFO) << "Attempt setting install_language_ to: " << code;
  install_language_ = platform_->SelectLanguage(code);
  LOG(INFO) << "Actual install_language_ set: " << install_language_;
  observers_.Notify(&SettingsObserver::OnLanguageChanged);
}

bool Settings::SetFlag(int index, bool value) {
  if (!changeable_ || index < 0 || index >= FLAG_COUNT)
    return false;
  flags_[index] = value;
  LOG(INFO) << GetFlagName(index) << " set to: " << (value ? 1 : 0);
  observers_.Notify(&SettingsObserver::OnFlagChanged);
  return true;
}

bool Settings::SetCopyOnly(bool value) {
  if (!changeable_ || operation_ == OPERATION_UPGRADE)
    return false;
  ApplyCopyOnlyRule(value);
  LOG(INFO) << "COPY_ONLY" << " set to: " << (value ? 1 : 0);
  observers_.Notify(&SettingsObserver::OnFlagChanged);
  return true;
}

bool Settings::SetAllUsers(bool value) {
  if (operation_ == OPERATION_UPGRADE || flags_[COPY_ONLY])
    return false;
  return SetFlag(ALL_USERS_FLAG, value);
}

bool Settings::SetDefaultBrowser(bool value) {
  if (flags_[COPY_ONLY])
    return false;
  return SetFlag(DEFAULT_BROWSER, value);
}

bool Settings::SetDeleteProfile(bool value) {
  if (!flags_[UNINSTALL_FLAG])
    return false;
  return SetFlag(DELETE_PROFILE, value);
}

void Settings::SetFlagIfChangeable(int index, bool value) {
  if (!SetFlag(index, value)) VLOG(1) << GetFlagName(index) << " left as it is: settings fixed";
}

}  // namespace installer
