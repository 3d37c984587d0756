// Reading the request from the command line and writing it as the backend's.
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/settings/settings.h"

#include "base/features/feature_registry.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"

namespace installer {

namespace {

// The shortcut flags that copy-only turns off, with the switches that bring them back.
struct ShortcutSwitch {
  const char* name;
  int flag;
};
const ShortcutSwitch kShortcutSwitches[] = {
    {switches::kDesktopShortcut, Settings::DESKTOP_SHORTCUT},
    {switches::kStartMenuShortcut, Settings::START_MENU_SHORTCUT},
    {switches::kQuickLaunchShortcut, Settings::QUICK_LAUNCH_SHORTCUT},
    {switches::kPinToTaskbar, Settings::PINNED_SHORTCUT},
};

const wchar_t* BooleanText(bool value) { return value ? L"1" : L"0"; }

}  // namespace

// static
bool Settings::ReadBooleanValue(base::StringPiece16 value) {
  if (base::LowerCaseEqualsASCII(value, "yes") || base::LowerCaseEqualsASCII(value, "true"))
    return true;
  int64_t number = 0;
  (void)base::StringToInt64(value, &number);  // the leading integer, even before garbage
  return number != 0;
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

  if (!ReadFlag(switches::kLaunchVelum, LAUNCH_VELUM))
    ReadFlag(switches::kLaunchBrowser, LAUNCH_VELUM);
  ReadFlag(switches::kCopyOnly, COPY_ONLY);
  ApplyCopyOnlyRule(flags_[COPY_ONLY]);
  ReadFlag(switches::kImportBrowserData, IMPORT_BROWSER_DATA);
  if (ReadFlag(switches::kEnableStats, ENABLE_VELUM_STATS))
    flags_[ENABLE_INSTALLER_STATS] = flags_[ENABLE_VELUM_STATS];
  ReadFlag(switches::kEnableInstallerStats, ENABLE_INSTALLER_STATS);
  if (!flags_[COPY_ONLY]) {
    ReadFlag(switches::kAllUsers, ALL_USERS_FLAG);
    ReadFlag(switches::kSetDefaultBrowser, DEFAULT_BROWSER);
    for (const ShortcutSwitch& shortcut : kShortcutSwitches)
      ReadFlag(shortcut.name, shortcut.flag);
  } else {
    flags_[SINGLE_PROFILE] = true;
  }
  ReadFlag(switches::kSingleProfile, SINGLE_PROFILE);
  if (command_line_->HasSwitch(switches::kProfileFolder))
    profile_folder_ = command_line_->GetSwitchValuePath(switches::kProfileFolder);
  if (command_line_->HasSwitch(switches::kInstallAssistant) && !flags_[COPY_ONLY])
    SetFlagIfChangeable(INSTALL_ASSISTANT, true);
  if (command_line_->HasSwitch(switches::kNiuid))
    niuid_ = command_line_->GetSwitchValueASCII(switches::kNiuid);
  if (command_line_->HasSwitch(switches::kMedium))
    medium_ = command_line_->GetSwitchValueASCII(switches::kMedium);
  LogFlags();
}

void Settings::LogFlags() const {
  static const int kLogOrder[] = {
      ALL_USERS_FLAG,      COPY_ONLY,          DEFAULT_BROWSER,       ENABLE_INSTALLER_STATS,
      DESKTOP_SHORTCUT,    PINNED_SHORTCUT,    QUICK_LAUNCH_SHORTCUT, START_MENU_SHORTCUT,
      ENABLE_VELUM_STATS,  IMPORT_BROWSER_DATA, LAUNCH_VELUM,         SINGLE_PROFILE,
  };
  for (int flag : kLogOrder)
    LOG(INFO) << GetFlagName(flag) << ": " << (flags_[flag] ? 1 : 0);
  LOG(INFO) << "language: " << install_language_;
}

base::CommandLine Settings::ToCommandLine(bool elevated) const {
  base::CommandLine result(base::CommandLine::NO_PROGRAM);
  result.AppendSwitch(switches::kBackend);
  if (flags_[SILENT])
    result.AppendSwitch(switches::kSilent);
  static const char* const kPassedOn[] = {switches::kInitialPid, switches::kTempFolder,
                                          switches::kComponents, "v"};
  result.CopySwitchesFrom(*command_line_, kPassedOn, sizeof(kPassedOn) / sizeof(kPassedOn[0]));

  if (operation_ == OPERATION_INSTALL || operation_ == OPERATION_UPGRADE) {
    result.AppendSwitch(switches::kInstall);
    if (flags_[AUTOUPDATE])
      result.AppendSwitch(switches::kAutoupdate);
    result.AppendSwitchNative(switches::kImportBrowserData,
                              BooleanText(flags_[IMPORT_BROWSER_DATA]));
    result.AppendSwitchNative(switches::kEnableStats, BooleanText(flags_[ENABLE_VELUM_STATS]));
    result.AppendSwitchNative(switches::kEnableInstallerStats,
                              BooleanText(flags_[ENABLE_INSTALLER_STATS]));
    // An elevated copy must not start the browser as administrator.
    result.AppendSwitchNative(switches::kLaunchVelum,
                              BooleanText(flags_[LAUNCH_VELUM] && !elevated));
    result.AppendSwitchPath(switches::kInstallFolder, target_.folder);
    result.AppendSwitchPath(switches::kProfileFolder, profile_folder_);
    result.AppendSwitchASCII(switches::kNiuid, niuid_);
    result.AppendSwitchASCII(switches::kMedium, medium_);
    if (!install_language_.empty())
      result.AppendSwitchNative(switches::kLanguage, install_language_);
    if (operation_ == OPERATION_INSTALL) {
      result.AppendSwitchNative(switches::kSingleProfile, BooleanText(flags_[SINGLE_PROFILE]));
      result.AppendSwitchNative(switches::kCopyOnly, BooleanText(flags_[COPY_ONLY]));
    }
    if (!flags_[COPY_ONLY]) {
      if (operation_ == OPERATION_INSTALL)
        result.AppendSwitchNative(switches::kAllUsers, BooleanText(flags_[ALL_USERS_FLAG]));
      result.AppendSwitchNative(switches::kSetDefaultBrowser, BooleanText(flags_[DEFAULT_BROWSER]));
      result.AppendSwitchNative(switches::kStartMenuShortcut,
                                BooleanText(flags_[START_MENU_SHORTCUT]));
      result.AppendSwitchNative(switches::kDesktopShortcut, BooleanText(flags_[DESKTOP_SHORTCUT]));
      result.AppendSwitchNative(switches::kQuickLaunchShortcut,
                                BooleanText(flags_[QUICK_LAUNCH_SHORTCUT]));
      result.AppendSwitchNative(switches::kPinToTaskbar, BooleanText(flags_[PINNED_SHORTCUT]));
      if (flags_[REPLACE_BASALT_INSTALLATION])
        result.AppendSwitch(switches::kReplaceBasaltInstallation);
    }
    if (command_line_->HasSwitch(switches::kServerTrackingData)) {
      result.AppendSwitchPath(switches::kServerTrackingData,
                              command_line_->GetSwitchValuePath(switches::kServerTrackingData));
    }
    base::AppendFeatureSwitches(&result);
    static const char* const kImports[] = {switches::kImportBookmarks, switches::kImportSession,
                                           switches::kImportTopsitesToStartPage};
    result.CopySwitchesFrom(*command_line_, kImports, sizeof(kImports) / sizeof(kImports[0]));
  } else if (operation_ == OPERATION_UNINSTALL) {
    result.AppendSwitch(switches::kUninstall);
    result.AppendSwitchNative(switches::kDeleteUserProfile, BooleanText(flags_[DELETE_PROFILE]));
  }
  LOG(INFO) << "Settings as command line: " << result.GetCommandLineString();
  return result;
}

}  // namespace installer
