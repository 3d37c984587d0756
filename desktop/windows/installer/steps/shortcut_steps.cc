#include "desktop/windows/installer/steps/shortcut_steps.h"

#include <memory>

#include "base/base_paths_win.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/shortcut.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/service/shortcut_targets.h"
#include "desktop/windows/installer/service/taskbar_pin.h"
#include "desktop/windows/installer/service/transactions/copy_file_operation.h"
#include "desktop/windows/installer/service/transactions/create_folder_operation.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/transactions/move_file_operation.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/rc_l10n_handler/localized_string.h"

namespace installer {

namespace {

const int32_t kStableChannel = 4;
const wchar_t kAppUserModelIdPrefix[] = L"VelumSoftware.VelumWebBrowser.";

const wchar_t kEnglishShortcutName[] = L"Velum Browser";

// One kind of shortcut: its request flag, folders, record field, what Status found of
// the previous one, and its log texts.
struct ShortcutKind {
  int flag;
  int all_users_folder;
  int user_folder;
  std::wstring InstallLog::*record_field;
  bool (Status::*found)() const;
  bool (Status::*found_for_executable)() const;
  const char* preparing_all_users;
  const char* preparing_user;
  const char* handling;
  const char* removing;
};

const ShortcutKind kShortcutKinds[] = {
    {Settings::DESKTOP_SHORTCUT, base::DIR_COMMON_DESKTOP, base::DIR_USER_DESKTOP,
     &InstallLog::desktop_shortcut, &Status::desktop_shortcut_found,
     &Status::desktop_found_for_executable, "Preparing  to set up shortcut on common desktop",
     "Preparing  to set up shortcut on user desktop", "Handling desktop shortcut:",
     "Removing desktop shortcut."},
    {Settings::START_MENU_SHORTCUT, base::DIR_COMMON_START_MENU, base::DIR_START_MENU,
     &InstallLog::menu_shortcut, &Status::start_menu_shortcut_found,
     &Status::start_menu_found_for_executable,
     "Preparing  to set up shortcut in common start menu",
     "Preparing  to set up shortcut in user start menu", "Handling start menu shortcut:",
     "Removing start menu shortcut."},
    {Settings::QUICK_LAUNCH_SHORTCUT, base::DIR_USER_QUICK_LAUNCH, base::DIR_USER_QUICK_LAUNCH,
     &InstallLog::quick_launch_shortcut, &Status::quick_launch_shortcut_found,
     &Status::quick_launch_found_for_executable,
     "Preparing  to set up shortcut in user quick launch",
     "Preparing  to set up shortcut in user quick launch", "Handling quick launch shortcut:",
     "Removing quick launch shortcut."},
};

// How the previous installation (may be null) named its shortcuts: with a version, or
// other than this build's plain name, which calls for a rename.
void ExamineShortcutNames(const InstallLog* previous, bool* version_names, bool* needs_rename) {
  // A name that ends in a digit carries a version: later names must too.
  const std::wstring plain_name = base::FilePath(GetShortcutFileName()).RemoveExtension().value();
  for (const ShortcutKind& kind : kShortcutKinds) {
    if (!previous) break;
    const std::wstring& path = previous->*kind.record_field;
    if (path.empty()) continue;
    const std::wstring stem = base::FilePath(path).RemoveExtension().value();
    if (!stem.empty() && stem.back() >= L'0' && stem.back() <= L'9') {
      *version_names = *needs_rename = true;
      break;
    }
    if (base::FilePath(stem).BaseName().value() != plain_name) *needs_rename = true;
  }
}

std::string ToUTF8(const base::FilePath& path) { return base::WideToUTF8(path.value()); }

// Empty when the system does not know the folder.
base::FilePath GetShortcutFolder(const ShortcutKind& kind, bool all_users) {
  base::FilePath folder;
  if (!base::PathRegistry::Get(all_users ? kind.all_users_folder : kind.user_folder, &folder))
    LOG(WARNING) << "No folder for shortcut kind " << kind.flag;
  return folder;
}

[[nodiscard]] bool Pin(InstallationContext* context, const base::FilePath& shortcut) {
  const PinStampLocation stamp = {GetCompanyRegistryKeyPath(), GetStreamName()};
  return PinToTaskbar(stamp, context->GetPackageFolder(), shortcut, PIN_ALWAYS);
}

// Deletion of a shortcut file through the transaction; the result is only logged.
void DeleteShortcutFile(InstallationContext* context, const base::FilePath& path) {
  if (!context->GetTransaction()->Execute(
          std::make_unique<DeleteFileOperation>(path, false, false)))
    LOG(WARNING) << "Could not delete " << ToUTF8(path);
}

// The partner pin, for partner builds. Fails when its shortcut could not be created.
base::Result<> CreatePartnerShortcut(InstallationContext* context, const base::FilePath& target) {
  Settings* settings = context->GetSettings();
  const InstallLog* record = context->GetInstallLog();
  const base::FilePath resources =
      context->GetInstallFolder().Append(record->subfolder).Append(L"resources");
  if (settings->medium() != "pb" &&
      !base::PathExists(resources.Append(L"tracking_user_agent.json")))
    return {};
  const std::wstring partner = GetPartnerName(settings->install_language());
  const std::string partner_name = base::WideToUTF8(partner);
  base::ShortcutProperties properties;
  properties.set_target(target);
  properties.set_arguments(GetPartnerAddress(partner));
  properties.set_icon(resources.Append(partner + L"_icon.ico"), 0);
  properties.set_app_id(GetShortcutAppUserModelId(record->GetSuffixedAppId()));
  const base::FilePath path = context->GetPackageFolder().Append(partner + L".lnk");
  VLOG(1) << "Creating " << partner_name << " shortcut at " << ToUTF8(path);
  if (!base::CreateOrUpdateShortcut(path, properties, base::SHORTCUT_CREATE_ALWAYS))
    return base::Failure{0, 0, "Failed to create " + partner_name + " shortcut at " + ToUTF8(path),
                         path};
  VLOG(1) << "Pinning " << partner_name << " shortcut";
  if (!Pin(context, path))
    LOG(ERROR) << "Failed pinning " << partner_name << ": " << ToUTF8(path);
  return {};
}

// Whether `path` is taken by something other than a shortcut to `target`. One to
// `target` was left by a run that ended before its record: it is replaced in place
// (the copy sets it aside), never doubled by a versioned second one.
bool IsOtherShortcut(const base::FilePath& path, const base::FilePath& target) {
  if (!base::PathExists(path)) return false;
  if (!TestShortcut(path, target, nullptr)) return true;
  VLOG(1) << "Replacing the shortcut left for this folder at " << ToUTF8(path);
  return false;
}

// Whether a shortcut may be moved to `path`: nothing is there, or a shortcut that starts
// this installation (its launcher or its browser). A move would replace anything else,
// and the committed installation would delete it.
bool MayTakeShortcutPath(InstallationContext* context, const base::FilePath& path) {
  const base::FilePath& folder = context->GetInstallFolder();
  const std::wstring executable = base::UTF8ToWide(GetExecutableFileName());
  const InstallLog* previous = context->GetSettings()->status().record();
  const base::FilePath targets[] = {
      folder.Append(kLauncherFileName), folder.Append(executable),
      folder.Append(previous ? previous->subfolder : std::wstring()).Append(executable)};
  for (const base::FilePath& target : targets) {
    if (!IsOtherShortcut(path, target)) return true;
  }
  return false;
}

}  // namespace

std::wstring GetShortcutFileName() {
  if (GetChannel() == kStableChannel) {
    // A module without the string table must not leave a nameless ".lnk".
    std::wstring name = GetLocalizedString(kShortcutNameStringId);
    if (name.empty()) name = kEnglishShortcutName;
    return name + L".lnk";
  }
  return base::UTF8ToWide(GetVisibleProductName() + GetShortcutSuffix()) + L".lnk";
}

std::wstring GetVersionedShortcutFileName(const std::string& version) {
  return base::FilePath(GetShortcutFileName())
      .InsertBeforeExtension(L" " + base::UTF8ToWide(version))
      .value();
}

std::vector<base::FilePath> GetShortcutFolders(bool all_users) {
  std::vector<base::FilePath> folders;
  for (const ShortcutKind& kind : kShortcutKinds) {
    const base::FilePath folder = GetShortcutFolder(kind, all_users);
    if (!folder.empty()) folders.push_back(folder);
  }
  return folders;
}

std::wstring GetShortcutAppUserModelId(const std::string& app_id) {
  return kAppUserModelIdPrefix + base::UTF8ToWide(app_id);
}

std::wstring GetPartnerName(const std::wstring& language) {
  return language == L"ru" ? L"vk" : L"facebook";
}

std::wstring GetPartnerAddress(const std::wstring& partner) {
  return L"https://" + partner + L".com/";
}

base::Result<> CreateShortcuts(InstallationContext* context,
                               const std::vector<ShortcutToCreate>& shortcuts, bool pin,
                               bool use_version_name, const base::FilePath& target) {
  InstallLog* record = context->GetInstallLog();
  base::ShortcutProperties properties;
  properties.set_target(target);
  properties.set_working_dir(target.DirName());
  properties.set_app_id(GetShortcutAppUserModelId(record->app_id));

  std::wstring name = GetShortcutFileName();
  if (use_version_name) {
    name = GetVersionedShortcutFileName(record->version);
  } else {
    for (const ShortcutToCreate& shortcut : shortcuts) {
      if (IsOtherShortcut(shortcut.folder.Append(name), target)) {
        VLOG(1) << "Using version in shortcut name to avoid collision";
        name = GetVersionedShortcutFileName(record->version);
        break;
      }
    }
  }
  VLOG(1) << "Using shortcut name " << base::WideToUTF8(name);
  VLOG(1) << "Creating master shortcut";
  const base::FilePath master = context->GetPackageFolder().Append(name);
  VLOG(1) << "Creating master shortcut at " << ToUTF8(master);
  if (!base::CreateOrUpdateShortcut(master, properties, base::SHORTCUT_CREATE_ALWAYS))
    return base::Failure{0, 0, "Failed to create shortcut at " + ToUTF8(master), master};
  if (pin) {
    VLOG(1) << "Pinning master shortcut";
    if (Pin(context, master))
      record->pinned = true;
    else
      LOG(ERROR) << "Failed pinning " << ToUTF8(master);
  }
  for (const ShortcutToCreate& shortcut : shortcuts) {
    const base::FilePath path = shortcut.folder.Append(name);
    // Quick Launch is hidden from Windows 7 on and may never have been made.
    Transaction* transaction = context->GetTransaction();
    if (!base::DirectoryExists(shortcut.folder) &&
        !transaction->Execute(std::make_unique<CreateFolderOperation>(shortcut.folder)))
      LOG(WARNING) << "Could not create " << ToUTF8(shortcut.folder);
    // A shortcut that could not be copied stays out of the record, so that the
    // uninstallation does not look for it.
    if (transaction->Execute(std::make_unique<CopyFileOperation>(master, path)))
      record->*shortcut.record_field = path.value();
    else
      LOG(WARNING) << "Could not copy the master shortcut to " << ToUTF8(path);
  }
  if (!pin) return {};
  return CreatePartnerShortcut(context, target);
}

void UnpinShortcut(InstallationContext* context, const std::vector<std::wstring>& shortcuts) {
  for (const std::wstring& shortcut : shortcuts) {
    const base::FilePath path(shortcut);
    VLOG(1) << "Unpinning shortcut " << ToUTF8(path);
    VLOG(1) << "Unpinning " << (base::UnpinShortcutFromTaskbar(path) ? "successful" : "failed");
    DeleteShortcutFile(context, path);
  }
}

namespace {

// Shortcuts are a convenience: the installation goes on without them.
void CreateShortcutsOrLog(InstallationContext* context,
                          const std::vector<ShortcutToCreate>& shortcuts, bool pin,
                          bool use_version_name, const base::FilePath& target) {
  const base::Result<> created = CreateShortcuts(context, shortcuts, pin, use_version_name, target);
  if (!created.ok()) LOG(ERROR) << created.failure().text;
}

}  // namespace

StepResult InstallShortcutsStep::Run(int32_t /*attempt*/) {
  Settings* settings = context_->GetSettings();
  if (settings->flag(Settings::COPY_ONLY)) return StepResult();
  LOG(INFO) << "Installing shortcuts";
  const base::FilePath target = context_->GetInstallFolder().Append(kLauncherFileName);
  const bool all_users = settings->flag(Settings::ALL_USERS_FLAG);
  std::vector<ShortcutToCreate> shortcuts;
  for (const ShortcutKind& kind : kShortcutKinds) {
    if (!settings->flag(kind.flag)) continue;
    VLOG(2) << (all_users ? kind.preparing_all_users : kind.preparing_user);
    const base::FilePath folder = GetShortcutFolder(kind, all_users);
    if (!folder.empty()) shortcuts.push_back({folder, kind.record_field});
  }
  CreateShortcutsOrLog(context_, shortcuts, settings->flag(Settings::PINNED_SHORTCUT), false,
                       target);
  return StepResult();
}

StepResult UpdateShortcutsStep::Run(int32_t /*attempt*/) {
  Settings* settings = context_->GetSettings();
  if (settings->flag(Settings::COPY_ONLY)) return StepResult();
  LOG(INFO) << "Updating shortcuts";
  const Status& status = settings->status();
  const InstallLog* previous = status.record();
  InstallLog* record = context_->GetInstallLog();
  const bool all_users = settings->flag(Settings::ALL_USERS_FLAG);

  bool version_names = false;
  bool needs_rename = false;
  ExamineShortcutNames(previous, &version_names, &needs_rename);
  VLOG(1) << (version_names ? "Using" : "Not using") << " shortcut names with version number";
  if (needs_rename) LOG(INFO) << "Shortcuts needs to be renamed";
  const std::wstring name =
      version_names ? GetVersionedShortcutFileName(record->version) : GetShortcutFileName();

  std::vector<ShortcutToCreate> shortcuts;
  for (const ShortcutKind& kind : kShortcutKinds) {
    VLOG(1) << kind.handling;
    const bool found = previous && (status.*kind.found)();
    const bool requested = settings->flag(kind.flag);
    const base::FilePath old_path(previous ? previous->*kind.record_field : std::wstring());
    const base::FilePath folder = requested ? GetShortcutFolder(kind, all_users) : base::FilePath();
    if (found && requested && !(status.*kind.found_for_executable)()) {
      record->*kind.record_field = old_path.value();
      const base::FilePath new_path = folder.empty() ? old_path : folder.Append(name);
      // Another kind's name can call for the rename of one that has the name already.
      const bool move = needs_rename &&
                        base::FilePath::CompareIgnoreCase(new_path.value(), old_path.value()) != 0;
      if (move && !MayTakeShortcutPath(context_, new_path)) {
        LOG(WARNING) << "Not moving the shortcut over " << ToUTF8(new_path)
                     << ", which is not this installation's";
      } else if (move) {
        VLOG(1) << "Moving shortcut";
        if (context_->GetTransaction()->Execute(
                std::make_unique<MoveFileOperation>(old_path, new_path)))
          record->*kind.record_field = new_path.value();
      }
    } else if (found && requested) {
      VLOG(1) << "Recreating shortcut";
      DeleteShortcutFile(context_, old_path);
      if (!folder.empty()) shortcuts.push_back({folder, kind.record_field});
    } else if (found) {
      VLOG(1) << "Removing shortcut";
      DeleteShortcutFile(context_, old_path);
    } else if (requested) {
      VLOG(1) << "Preparing to add shortcut";
      if (!folder.empty()) shortcuts.push_back({folder, kind.record_field});
    }
  }

  VLOG(1) << "Handling pinned shortcut:";
  bool pin = false;
  const std::vector<std::wstring>& pins = status.pinned_shortcuts();
  const bool pin_requested = settings->flag(Settings::PINNED_SHORTCUT);
  if (settings->flag(Settings::AUTOUPDATE) && all_users) {
    // An update in the background never changes any user's taskbar.
  } else if (pins.empty()) {
    pin = pin_requested;
  } else if (!pin_requested) {
    VLOG(1) << "Unpinning existing shortcuts";
    UnpinShortcut(context_, pins);
  } else if (status.pinned_found_for_executable() || needs_rename) {
    VLOG(1) << "Unpinning existing shortcuts (with repin)";
    UnpinShortcut(context_, pins);
    pin = true;
  } else {
    // The pin stays and stays the installation's.
    record->pinned = true;
  }
  CreateShortcutsOrLog(context_, shortcuts, pin, version_names,
                       context_->GetInstallFolder().Append(kLauncherFileName));
  return StepResult();
}

StepResult RemoveShortcutsStep::Run(int32_t /*attempt*/) {
  LOG(INFO) << "Removing shortctus.";
  const Status& status = context_->GetSettings()->status();
  if (!status.pinned_shortcuts().empty()) {
    VLOG(1) << "Unpinning shortcuts";
    UnpinShortcut(context_, status.pinned_shortcuts());
  }
  if (!status.suffixed_pinned_shortcuts().empty()) {
    VLOG(1) << "Unpinning extra shortcuts";
    UnpinShortcut(context_, status.suffixed_pinned_shortcuts());
  }
  const InstallLog* previous = status.record();
  for (const ShortcutKind& kind : kShortcutKinds) {
    if (!previous || !(status.*kind.found)()) continue;
    VLOG(1) << kind.removing;
    DeleteShortcutFile(context_, base::FilePath(previous->*kind.record_field));
  }
  if (status.start_menu_folder_exists()) {
    VLOG(1) << "Removing temporary shortcut folder.";
    DeleteShortcutFile(context_, status.start_menu_folder());
  }
  return StepResult();
}

}  // namespace installer
