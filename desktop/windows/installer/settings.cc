#include "desktop/windows/installer/settings.h"

#include <windows.h>
#include <shlobj.h>
#include <winioctl.h>

#include <algorithm>

#include "base/base_paths_win.h"
#include "base/files/file_util.h"
#include "base/features/feature_registry.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/service/access_control.h"
#include "desktop/windows/installer/service/installation_info.h"
#include "desktop/windows/installer/service/utils.h"

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

// The shortcut flags that copy-only turns off, with the switches that bring them back.
struct ShortcutSwitch {
  const char* name;
  int flag;
};
const ShortcutSwitch kShortcutSwitches[] = {
    {"desktopshortcut", Settings::DESKTOP_SHORTCUT},
    {"startmenushortcut", Settings::START_MENU_SHORTCUT},
    {"quicklaunchshortcut", Settings::QUICK_LAUNCH_SHORTCUT},
    {"pintotaskbar", Settings::PINNED_SHORTCUT},
};

const wchar_t* BooleanText(bool value) { return value ? L"1" : L"0"; }

wchar_t UpperDriveLetter(wchar_t c) { return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c; }

// Exact, except for the letter of a drive path.
bool SameFolder(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size())
    return false;
  if (a.size() >= 2 && a[1] == L':')
    return UpperDriveLetter(a[0]) == UpperDriveLetter(b[0]) && a.compare(1, a.npos, b, 1) == 0;
  return a == b;
}

// Whether the drive holds media; a changed medium counts as present.
bool DriveHasMedia(wchar_t letter) {
  wchar_t device[] = L"\\\\.\\?:";
  device[4] = letter;
  HANDLE handle = CreateFileW(device, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(handle, IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0, nullptr, 0,
                            &returned, nullptr);
  DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  CloseHandle(handle);
  return ok || error == ERROR_MEDIA_CHANGED;
}

class WindowsSettingsPlatform : public SettingsPlatform {
 public:
  bool IsUserAdmin(bool use_linked_token) override {
    return installer::IsUserAdmin(use_linked_token);
  }
  bool IsBeforeWindows7() override {
    return base::GetWindowsVersion() < base::OS_VERSION_WIN7;
  }
  int32_t GetChannel() override { return installer::GetChannel(); }
  base::FilePath GetStandardInstallFolder(bool all_users, int32_t architecture) override {
    base::FilePath folder;
    if (all_users) {
      int key = architecture == 1 ? base::DIR_PROGRAM_FILES6432 : base::DIR_PROGRAM_FILESX86;
      if (!base::PathRegistry::Get(key, &folder))
        return base::FilePath();
    } else {
      wchar_t* known = nullptr;
      if (!IsBeforeWindows7() &&
          SUCCEEDED(SHGetKnownFolderPath(FOLDERID_UserProgramFiles, 0, nullptr, &known))) {
        folder = base::FilePath(known);
      } else if (base::PathRegistry::Get(base::DIR_LOCAL_APP_DATA, &folder)) {
        // Where the known folder lives by default; also when the system cannot name it.
        folder = folder.Append(L"Programs");
      }
      CoTaskMemFree(known);
      if (folder.empty())
        return base::FilePath();
    }
    return folder.Append(base::UTF8ToWide(installer::GetVisibleProductName()));
  }
  base::FilePath GetRegistryInstallFolder(int32_t architecture) override {
    return ReadRegistryInstallFolder(HKEY_CURRENT_USER, GetCompanyRegistryKeyPath(),
                                     architecture, installer::GetChannel(), GetChannelName(),
                                     GetStreamName());
  }
  std::vector<base::FilePath> GetStandaloneInstallPaths() override {
    std::vector<StandaloneDrive> drives;
    DWORD mask = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
      if (!(mask & (1u << i)))
        continue;
      wchar_t letter = static_cast<wchar_t>(L'A' + i);
      if (!DriveHasMedia(letter))
        continue;
      wchar_t root[] = L"?:\\";
      root[0] = letter;
      drives.push_back({letter, RankOfDriveType(GetDriveTypeW(root))});
    }
    std::vector<base::FilePath> paths = OrderStandalonePaths(
        drives, base::UTF8ToWide(installer::GetVisibleProductName()));
    LOG(INFO) << "Found " << paths.size() << " paths for standalone install mode.";
    for (const base::FilePath& path : paths)
      LOG(INFO) << path.value();
    return paths;
  }
  bool HasSeveralUninstallEntries() override {
    std::wstring product = base::UTF8ToWide(installer::GetProductName());
    int32_t channel = installer::GetChannel();
    int found = 0;
    if (CountUninstallEntries(HKEY_CURRENT_USER, 0, GetUninstallKeyPath(), product, channel,
                              &found)) {
      return true;
    }
    if (base::OsInfo::Instance()->architecture() == base::OsInfo::X64_ARCHITECTURE &&
        CountUninstallEntries(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, GetUninstallKeyPath(),
                              product, channel, &found)) {
      return true;
    }
    return CountUninstallEntries(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, GetUninstallKeyPath(),
                                 product, channel, &found);
  }
  base::FilePath GetInstalledProductFolder() override {
    return InstallationInfo::GetInstance()->GetInstallFolder();
  }
  // Until the folder can be examined, an absolute folder is a target for a new
  // installation.
  InstallTarget ExamineInstallTarget(const base::FilePath& folder, bool, bool) override {
    InstallTarget target;
    target.folder = folder;
    target.valid_install_path = folder.IsAbsolute();
    return target;
  }
};

}  // namespace

base::FilePath ReadRegistryInstallFolder(HKEY root, const std::wstring& key_path,
                                         int32_t architecture, int32_t channel,
                                         const std::string& channel_name,
                                         const std::string& stream_name) {
  base::RegistryKey key(root, key_path.c_str(), KEY_READ);
  if (!key.Valid())
    return base::FilePath();
  std::vector<std::wstring> names;
  std::wstring channel_wide = base::UTF8ToWide(channel_name);
  if (architecture == 1)
    names.push_back(L"Last " + channel_wide + L" Install Path x64");
  names.push_back(L"Last " + channel_wide + L" Install Path");
  names.push_back(L"Last " + base::UTF8ToWide(stream_name) + L" Install Path");
  if (channel == 4)
    names.push_back(L"Last install path");
  for (const std::wstring& name : names) {
    std::wstring value;
    if (key.ReadValue(name.c_str(), &value) != ERROR_SUCCESS)
      continue;
    base::FilePath folder(value);
    if (folder.IsAbsolute() && base::DirectoryExists(folder))
      return folder.StripTrailingSeparators();
    return base::FilePath();  // the first value that reads decides
  }
  return base::FilePath();
}

bool IsUninstallEntryOfStream(const std::wstring& key_name, const std::wstring& publisher,
                              const std::wstring& display_name,
                              const std::wstring& product_name, int32_t channel) {
  if (key_name.compare(0, 5, L"Velum") != 0 ||
      publisher.compare(0, 14, L"Velum Software") != 0) {
    return false;
  }
  std::wstring prefix = product_name + L" ";
  if (display_name.compare(0, prefix.size(), prefix) != 0)
    return false;
  size_t end = display_name.find(L' ', prefix.size());
  std::wstring word = display_name.substr(prefix.size(), end == std::wstring::npos
                                                             ? std::wstring::npos
                                                             : end - prefix.size());
  switch (channel) {
    case 4:
      return word == L"Stable";
    case 3:
      return word == L"beta" || word == L"Next";
    case 2:
      return word == L"developer" || word == L"Developer";
    case 1:
      return word == L"nightly";
    default:
      return false;
  }
}

bool CountUninstallEntries(HKEY root, REGSAM view, const std::wstring& key_path,
                           const std::wstring& product_name, int32_t channel, int* found) {
  base::RegistryKey uninstall(root, key_path.c_str(), KEY_READ | view);
  if (!uninstall.Valid())
    return *found >= 2;
  wchar_t name[256];
  for (DWORD index = 0; *found < 2; ++index) {
    DWORD length = sizeof(name) / sizeof(name[0]);
    LONG result = RegEnumKeyExW(uninstall.Handle(), index, name, &length, nullptr, nullptr,
                                nullptr, nullptr);
    if (result == ERROR_MORE_DATA)
      continue;  // longer than any of ours
    if (result != ERROR_SUCCESS)
      break;
    base::RegistryKey entry(uninstall.Handle(), name, KEY_READ | view);
    std::wstring publisher, display_name;
    if (entry.ReadValue(L"Publisher", &publisher) != ERROR_SUCCESS) {
      LOG(INFO) << "Cannot read Publisher in an uninstall key";
      continue;
    }
    if (entry.ReadValue(L"DisplayName", &display_name) != ERROR_SUCCESS) {
      LOG(INFO) << "Cannot read Display Name in an uninstall key";
      continue;
    }
    if (display_name.compare(0, product_name.size(), product_name) != 0)
      LOG(INFO) << "DisplayName does not start with Velum";
    if (IsUninstallEntryOfStream(name, publisher, display_name, product_name, channel))
      ++*found;
  }
  return *found >= 2;
}

int RankOfDriveType(UINT drive_type) {
  switch (drive_type) {
    case DRIVE_REMOVABLE:
      return 0;
    case DRIVE_REMOTE:
      return 1;
    case DRIVE_FIXED:
      return 3;
    case DRIVE_RAMDISK:
      return 4;
    case DRIVE_CDROM:
      return 5;
    case DRIVE_NO_ROOT_DIR:
      return 7;
    default:
      return 6;
  }
}

std::vector<base::FilePath> OrderStandalonePaths(std::vector<StandaloneDrive> drives,
                                                 const std::wstring& product_name) {
  std::stable_sort(drives.begin(), drives.end(),
                   [](const StandaloneDrive& a, const StandaloneDrive& b) {
                     return a.rank < b.rank;
                   });
  std::vector<base::FilePath> paths;
  for (size_t i = 0; i < drives.size(); ++i) {
    if (i > 0 && drives[i].rank >= 5)
      continue;
    std::wstring root(1, drives[i].letter);
    root += L":\\";
    paths.push_back(base::FilePath(root + product_name));
  }
  return paths;
}

SettingsPlatform* GetDefaultSettingsPlatform() {
  static WindowsSettingsPlatform* platform = new WindowsSettingsPlatform;
  return platform;
}

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
  registry_install_folder_ = platform_->GetRegistryInstallFolder(architecture_);
  standalone_install_paths_ = platform_->GetStandaloneInstallPaths();
  LOG(INFO) << "Initializing settings";
  if (uninstall) {
    ReadFlag("deleteuserprofile", DELETE_PROFILE);
    // Deleting the profile is only offered when one installation uses it.
    if (!command_line_->HasSwitch("backend") && platform_->HasSeveralUninstallEntries())
      can_delete_profile_ = false;
    SetInstallFolder(platform_->GetInstalledProductFolder());
    return;
  }
  if (command_line_->HasSwitch("language"))
    SetInstallLanguage(command_line_->GetSwitchValueNative("language"));
  FromCommandLine();
  // A 32-bit installation remembered by an x64 installer is only followed when there is
  // something to upgrade there; otherwise the x64 build goes to its own standard folder.
  base::FilePath x86_program_files = platform_->GetStandardInstallFolder(true, 0).DirName();
  if (architecture_ == 1 && command_line_install_folder_.empty() &&
      !registry_install_folder_.empty() && x86_program_files.IsParent(registry_install_folder_)) {
    InstallTarget target = platform_->ExamineInstallTarget(
        registry_install_folder_, flags_[REPLACE_BASALT_INSTALLATION], flags_[AUTOUPDATE]);
    if (target.existing_installation)
      ApplyTarget(target);
    else
      SetInstallFolder(GetDefaultInstallFolder(SOURCE_STANDARD));
    return;
  }
  SetInstallFolder(GetDefaultInstallFolder(SOURCE_COMMAND_LINE | SOURCE_REGISTRY |
                                           SOURCE_STANDARD));
}

Settings::~Settings() { LOG(INFO) << "Destroying settings"; }

// static
const char* Settings::GetFlagName(int index) {
  if (index < 0 || index >= FLAG_COUNT)
    return "";
  return kFlagNames[index];
}

// static
bool Settings::ReadBooleanValue(base::StringPiece16 value) {
  if (base::LowerCaseEqualsASCII(value, "yes") || base::LowerCaseEqualsASCII(value, "true"))
    return true;
  int64_t number = 0;
  base::StringToInt64(value, &number);  // the leading integer, even before garbage
  return number != 0;
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

bool Settings::ReadFlag(const char* name, int flag) {
  if (!command_line_->HasSwitch(name))
    return false;
  flags_[flag] = ReadBooleanValue(command_line_->GetSwitchValueNative(name));
  return true;
}

void Settings::ApplyCopyOnlyRule(bool copy_only) {
  flags_[COPY_ONLY] = copy_only;
  if (copy_only) {
    flags_[ALL_USERS_FLAG] = false;
    flags_[DEFAULT_BROWSER] = false;
    for (const ShortcutSwitch& shortcut : kShortcutSwitches)
      flags_[shortcut.flag] = false;
    return;
  }
  // An absent switch gives the flag back its default; Quick Launch is no default from
  // Windows 7 on, where its folder is hidden.
  for (const ShortcutSwitch& shortcut : kShortcutSwitches) {
    if (!ReadFlag(shortcut.name, shortcut.flag)) {
      flags_[shortcut.flag] =
          shortcut.flag != QUICK_LAUNCH_SHORTCUT || platform_->IsBeforeWindows7();
    }
  }
}

void Settings::FromCommandLine() {
  if (!changeable_)
    return;
  LOG(INFO) << "Settings from command line";
  bool silent = flags_[SILENT];
  flags_[ALL_USERS_FLAG] = platform_->IsUserAdmin(!silent);
  flags_[COPY_ONLY] = false;
  flags_[LAUNCH_VELUM] = true;
  flags_[DEFAULT_BROWSER] = platform_->GetChannel() == 4 && !flags_[AUTOUPDATE];
  flags_[IMPORT_BROWSER_DATA] = true;
  flags_[ENABLE_INSTALLER_STATS] = true;
  flags_[ENABLE_VELUM_STATS] = true;
  flags_[SINGLE_PROFILE] = false;
  flags_[DESKTOP_SHORTCUT] = true;
  flags_[START_MENU_SHORTCUT] = true;
  flags_[QUICK_LAUNCH_SHORTCUT] = platform_->IsBeforeWindows7();
  flags_[PINNED_SHORTCUT] = true;

  if (!ReadFlag("launchvelum", LAUNCH_VELUM))
    ReadFlag("launchbrowser", LAUNCH_VELUM);
  ReadFlag("copyonly", COPY_ONLY);
  ApplyCopyOnlyRule(flags_[COPY_ONLY]);
  ReadFlag("import-browser-data", IMPORT_BROWSER_DATA);
  if (ReadFlag("enable-stats", ENABLE_VELUM_STATS))
    flags_[ENABLE_INSTALLER_STATS] = flags_[ENABLE_VELUM_STATS];
  ReadFlag("enable-installer-stats", ENABLE_INSTALLER_STATS);
  if (!flags_[COPY_ONLY]) {
    ReadFlag("allusers", ALL_USERS_FLAG);
    ReadFlag("setdefaultbrowser", DEFAULT_BROWSER);
    for (const ShortcutSwitch& shortcut : kShortcutSwitches)
      ReadFlag(shortcut.name, shortcut.flag);
  } else {
    flags_[SINGLE_PROFILE] = true;
  }
  ReadFlag("singleprofile", SINGLE_PROFILE);
  if (command_line_->HasSwitch("profile-folder"))
    profile_folder_ = command_line_->GetSwitchValuePath("profile-folder");
  if (command_line_->HasSwitch("install-assistant") && !flags_[COPY_ONLY])
    SetFlag(INSTALL_ASSISTANT, true);
  if (command_line_->HasSwitch("niuid"))
    niuid_ = command_line_->GetSwitchValueASCII("niuid");
  if (command_line_->HasSwitch("medium"))
    medium_ = command_line_->GetSwitchValueASCII("medium");
  LogFlags();
}

void Settings::LogFlags() const {
  static const int kLogOrder[] = {
      ALL_USERS_FLAG,      COPY_ONLY,          DEFAULT_BROWSER,       ENABLE_INSTALLER_STATS,
      DESKTOP_SHORTCUT,    PINNED_SHORTCUT,    QUICK_LAUNCH_SHORTCUT, START_MENU_SHORTCUT,
      ENABLE_VELUM_STATS,  IMPORT_BROWSER_DATA, LAUNCH_VELUM,         SINGLE_PROFILE,
  };
  for (int flag : kLogOrder)
    LOG(INFO) << kFlagNames[flag] << ": " << (flags_[flag] ? 1 : 0);
  LOG(INFO) << "language: " << install_language_;
}

base::CommandLine Settings::ToCommandLine(bool elevated) const {
  base::CommandLine result(base::CommandLine::NO_PROGRAM);
  result.AppendSwitch("backend");
  if (flags_[SILENT])
    result.AppendSwitch("silent");
  static const char* const kPassedOn[] = {"initial-pid", "temp-folder", "components", "v"};
  result.CopySwitchesFrom(*command_line_, kPassedOn, sizeof(kPassedOn) / sizeof(kPassedOn[0]));

  if (operation_ == OPERATION_INSTALL || operation_ == OPERATION_UPGRADE) {
    result.AppendSwitch("install");
    if (flags_[AUTOUPDATE])
      result.AppendSwitch("autoupdate");
    result.AppendSwitchNative("import-browser-data", BooleanText(flags_[IMPORT_BROWSER_DATA]));
    result.AppendSwitchNative("enable-stats", BooleanText(flags_[ENABLE_VELUM_STATS]));
    result.AppendSwitchNative("enable-installer-stats",
                              BooleanText(flags_[ENABLE_INSTALLER_STATS]));
    // An elevated copy must not start the browser as administrator.
    result.AppendSwitchNative("launchvelum", BooleanText(flags_[LAUNCH_VELUM] && !elevated));
    result.AppendSwitchPath("installfolder", target_.folder);
    result.AppendSwitchPath("profile-folder", profile_folder_);
    result.AppendSwitchASCII("niuid", niuid_);
    result.AppendSwitchASCII("medium", medium_);
    if (!install_language_.empty())
      result.AppendSwitchNative("language", install_language_);
    if (operation_ == OPERATION_INSTALL) {
      result.AppendSwitchNative("singleprofile", BooleanText(flags_[SINGLE_PROFILE]));
      result.AppendSwitchNative("copyonly", BooleanText(flags_[COPY_ONLY]));
    }
    if (!flags_[COPY_ONLY]) {
      if (operation_ == OPERATION_INSTALL)
        result.AppendSwitchNative("allusers", BooleanText(flags_[ALL_USERS_FLAG]));
      result.AppendSwitchNative("setdefaultbrowser", BooleanText(flags_[DEFAULT_BROWSER]));
      result.AppendSwitchNative("startmenushortcut", BooleanText(flags_[START_MENU_SHORTCUT]));
      result.AppendSwitchNative("desktopshortcut", BooleanText(flags_[DESKTOP_SHORTCUT]));
      result.AppendSwitchNative("quicklaunchshortcut",
                                BooleanText(flags_[QUICK_LAUNCH_SHORTCUT]));
      result.AppendSwitchNative("pintotaskbar", BooleanText(flags_[PINNED_SHORTCUT]));
      if (flags_[REPLACE_BASALT_INSTALLATION])
        result.AppendSwitch("replacebasaltinstallation");
    }
    if (command_line_->HasSwitch("server-tracking-data")) {
      result.AppendSwitchPath("server-tracking-data",
                              command_line_->GetSwitchValuePath("server-tracking-data"));
    }
    base::AppendFeatureSwitches(&result);
    static const char* const kImports[] = {"import-bookmarks", "import-session",
                                           "import-topsites-to-speeddial"};
    result.CopySwitchesFrom(*command_line_, kImports, sizeof(kImports) / sizeof(kImports[0]));
  } else if (operation_ == OPERATION_UNINSTALL) {
    result.AppendSwitch("uninstall");
    result.AppendSwitchNative("deleteuserprofile", BooleanText(flags_[DELETE_PROFILE]));
  }
  LOG(INFO) << "Settings as command line: " << result.GetCommandLineString();
  return result;
}

void Settings::SetInstallFolder(const base::FilePath& folder) {
  if (!changeable_)
    return;
  LOG(INFO) << "Setting install folder to: " << folder.value();
  if (target_applied_ && SameFolder(folder.value(), target_.folder.value()))
    return;
  ApplyTarget(platform_->ExamineInstallTarget(folder, flags_[REPLACE_BASALT_INSTALLATION],
                                              flags_[AUTOUPDATE]));
}

void Settings::ApplyTarget(const InstallTarget& target) {
  if (!changeable_)
    return;
  int32_t previous_operation = operation_;
  target_ = target;
  target_applied_ = true;
  operation_ = OPERATION_INVALID;
  LOG(INFO) << "Install folder set: " << target_.folder.value();
  bool uninstall = flags_[UNINSTALL_FLAG];
  if (!target_.valid_install_path || (uninstall && !target_.existing_installation)) {
    LOG(INFO) << "Invalid install folder";
    observers_.Notify(&SettingsObserver::OnPathChanged);
    return;
  }
  if (target_.existing_installation || previous_operation == OPERATION_UPGRADE)
    FromCommandLine();
  if (uninstall) {
    operation_ = OPERATION_UNINSTALL;
  } else if (target_.existing_installation) {
    operation_ = command_line_->HasSwitch("register-velum-as-protocol-handler")
                     ? OPERATION_REGISTER_PROTOCOL_HANDLER
                     : OPERATION_UPGRADE;
  } else {
    operation_ = OPERATION_INSTALL;
  }
  LOG(INFO) << "Operation: " << operation_;
  if (target_.existing_installation) {
    LOG(INFO) << "Using settings from existing installation";
    ApplyCopyOnlyRule(target_.copy_only);
    flags_[ALL_USERS_FLAG] = target_.all_users;
    flags_[SINGLE_PROFILE] = target_.single_profile == 1;
    const struct {
      const char* name;
      int flag;
      bool found;
    } kShortcuts[] = {
        {"desktopshortcut", DESKTOP_SHORTCUT, target_.desktop_shortcut_found},
        {"startmenushortcut", START_MENU_SHORTCUT, target_.start_menu_shortcut_found},
        {"quicklaunchshortcut", QUICK_LAUNCH_SHORTCUT, target_.quick_launch_shortcut_found},
        // Only an update keeps an unpinned browser unpinned.
        {"pintotaskbar", PINNED_SHORTCUT,
         !flags_[AUTOUPDATE] || target_.pinned_shortcut_found},
        {"import-browser-data", IMPORT_BROWSER_DATA, target_.import_browser_data != 0},
        {"enable-stats", ENABLE_VELUM_STATS, target_.enable_stats != 0},
    };
    for (const auto& shortcut : kShortcuts) {
      if (!command_line_->HasSwitch(shortcut.name))
        flags_[shortcut.flag] = shortcut.found;
    }
    if (!command_line_->HasSwitch("enable-stats") &&
        !command_line_->HasSwitch("enable-installer-stats")) {
      flags_[ENABLE_INSTALLER_STATS] = flags_[ENABLE_VELUM_STATS];
    }
    if ((flags_[REPLACE_BASALT_INSTALLATION] || flags_[AUTOUPDATE]) &&
        target_.record_kind == 4 && target_.handles_http) {
      flags_[DEFAULT_BROWSER] = true;
    }
  } else if (!uninstall && !command_line_->HasSwitch("singleprofile")) {
    flags_[SINGLE_PROFILE] =
        target_.single_profile == -1 ? flags_[COPY_ONLY] : target_.single_profile == 1;
  }
  LogFlags();
  if (!target_.language.empty() && !(!uninstall && command_line_->HasSwitch("language")))
    SetInstallLanguage(target_.language);
  observers_.Notify(&SettingsObserver::OnPathChanged);
}

base::FilePath Settings::GetDefaultInstallFolder(int sources) const {
  VLOG(1) << "Default install folder from sources: command line "
          << ((sources & SOURCE_COMMAND_LINE) ? 1 : 0) << ", registry "
          << ((sources & SOURCE_REGISTRY) ? 1 : 0) << ", standard "
          << ((sources & SOURCE_STANDARD) ? 1 : 0);
  if ((sources & SOURCE_COMMAND_LINE) && !command_line_install_folder_.empty())
    return command_line_install_folder_;
  if (!flags_[COPY_ONLY] && (sources & SOURCE_REGISTRY) && !registry_install_folder_.empty())
    return registry_install_folder_;
  if (sources & SOURCE_STANDARD) {
    if (flags_[ALL_USERS_FLAG])
      return platform_->GetStandardInstallFolder(true, architecture_);
    if (flags_[COPY_ONLY]) {
      // No drive offered: an empty folder, which the target check rejects.
      return standalone_install_paths_.empty() ? base::FilePath()
                                               : standalone_install_paths_.front();
    }
    return platform_->GetStandardInstallFolder(false, architecture_);
  }
  return base::FilePath();
}

std::vector<base::FilePath> Settings::GetInstallFolderSuggestions() const {
  if (flags_[COPY_ONLY])
    return standalone_install_paths_;
  return std::vector<base::FilePath>(1,
                                     GetDefaultInstallFolder(SOURCE_REGISTRY | SOURCE_STANDARD));
}

bool Settings::SetMode(int mode) {
  VLOG(1) << "Changing Settings using SetMode";
  if (!changeable_)
    return false;
  if (mode != MODE_ALL_USERS && mode != MODE_CURRENT_USER && mode != MODE_STANDALONE)
    return false;
  bool folder_was_suggested = false;
  for (const base::FilePath& suggestion : GetInstallFolderSuggestions()) {
    if (base::FilePath::CompareIgnoreCase(suggestion.value(), target_.folder.value()) == 0)
      folder_was_suggested = true;
  }
  bool keep_single_profile =
      command_line_->HasSwitch("singleprofile") || operation_ == OPERATION_UPGRADE;
  bool result;
  if (mode == MODE_STANDALONE) {
    if (!keep_single_profile)
      flags_[SINGLE_PROFILE] = true;
    result = SetCopyOnly(true);
  } else {
    if (!keep_single_profile)
      flags_[SINGLE_PROFILE] = false;
    result = SetCopyOnly(false);
    if (result && operation_ != OPERATION_UPGRADE && !flags_[COPY_ONLY])
      flags_[ALL_USERS_FLAG] = mode == MODE_ALL_USERS;
  }
  if (folder_was_suggested)
    SetInstallFolder(GetDefaultInstallFolder(SOURCE_REGISTRY | SOURCE_STANDARD));
  return result;
}

void Settings::SetInstallLanguage(const std::wstring& code) {
  if (!changeable_ || code == install_language_)
    return;
  install_language_ = code;
  LOG(INFO) << "Attempt setting install_language_ to: " << code;
  LOG(INFO) << "Actual install_language_ set: " << install_language_;
  observers_.Notify(&SettingsObserver::OnLanguageChanged);
}

bool Settings::SetFlag(int index, bool value) {
  if (!changeable_ || index < 0 || index >= FLAG_COUNT)
    return false;
  flags_[index] = value;
  LOG(INFO) << kFlagNames[index] << " set to: " << (value ? 1 : 0);
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

void Settings::SetEnableStats(bool value) { SetFlag(ENABLE_VELUM_STATS, value); }

void Settings::SetEnableInstallerStats(bool value) { SetFlag(ENABLE_INSTALLER_STATS, value); }

void Settings::SetImportBrowserData(bool value) { SetFlag(IMPORT_BROWSER_DATA, value); }

}  // namespace installer
