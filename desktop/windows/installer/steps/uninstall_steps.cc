#include "desktop/windows/installer/steps/uninstall_steps.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/process_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/common/autoupdate/updatechecker/global_storage.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/kernel_object_names.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/elevated_helper/cleanup_batch.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/steps/finalize_installation_steps.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/steps/installer_system.h"
#include "desktop/windows/installer/steps/os_operations.h"
#include "desktop/windows/installer/service/association_registration.h"
#include "desktop/windows/installer/service/held_delete_operation.h"
#include "desktop/windows/installer/service/held_install_folder.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation_info_impl.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/path_names.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

namespace {

// Deletes `path`, below the install folder, through the context's transaction and the
// folders held from the install folder down.
[[nodiscard]] bool DeleteThrough(InstallationContext* context, const base::FilePath& path,
                                 bool check_in_use, bool remove_empty_parents,
                                 bool* refused = nullptr) {
  return context->GetTransaction()->Execute(std::make_unique<HeldDeleteOperation>(
      context->GetHeldTree(), path, check_in_use, remove_empty_parents, refused));
}

// Deletes `path` as DeleteThrough does; appends it to `failed` when it stays, unless it
// was left for a link on its way: the batch's del would follow that link.
void DeleteOrNote(InstallationContext* context, const base::FilePath& path, bool check_in_use,
                  bool remove_empty_parents, std::vector<base::FilePath>* failed) {
  bool refused = false;
  if (!DeleteThrough(context, path, check_in_use, remove_empty_parents, &refused) && !refused)
    failed->push_back(path);
}

// Tells the front end that started this process to start the clean-up batch as it
// ends; false when it did not ask for that.
[[nodiscard]] bool LeaveToFrontEnd(const base::FilePath& install_folder) {
  const std::wstring name = GetKernelObjectName(
      install_folder.value(), kernel_objects::kCleanupBatchLeftEventPrefix, true);
  base::ScopedHandle left(OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
  if (!left.IsValid() || !SetEvent(left.Get())) return false;
  LOG(INFO) << "Leaving the final cleanup batch file to the front end.";
  return true;
}

// Runs Internet Explorer's own re-registration as the machine's browser, and waits.
base::Result<> RunReinstallCommand() {
  base::RegistryKey key;
  std::wstring command;
  LONG read = key.Open(HKEY_LOCAL_MACHINE,
                       L"SOFTWARE\\Clients\\StartMenuInternet\\IEXPLORE.EXE\\InstallInfo",
                       KEY_QUERY_VALUE);
  if (read == ERROR_SUCCESS) read = key.ReadValue(L"ReinstallCommand", &command);
  if (read != ERROR_SUCCESS)
    return base::Failure{static_cast<DWORD>(read), 0, "no reinstall command of Internet Explorer",
                         {}};
  std::wstring program;
  std::wstring parameters;
  SplitReinstallCommand(command, &program, &parameters);
  // A 32-bit process on 64-bit Windows must reach the real System32.
  typedef BOOL(WINAPI * DisableRedirection)(PVOID*);
  typedef BOOL(WINAPI * RevertRedirection)(PVOID);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  DisableRedirection disable = reinterpret_cast<DisableRedirection>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
  RevertRedirection revert = reinterpret_cast<RevertRedirection>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
  BOOL wow64 = FALSE;
  const bool redirect = IsWow64Process(GetCurrentProcess(), &wow64) && wow64 && disable && revert;
  PVOID old_value = nullptr;
  const bool disabled = redirect && disable(&old_value);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_DOENVSUBST;
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  const BOOL launched = ShellExecuteExW(&info);
  const DWORD error = launched ? 0 : GetLastError();
  if (disabled) revert(old_value);
  if (!launched || !info.hProcess)
    return base::Failure{error, 0, "could not run " + base::WideToUTF8(program), {}};
  base::ScopedHandle process(info.hProcess);
  WaitForSingleObject(process.Get(), INFINITE);
  return {};
}

void ResetDefaultBrowser(const Settings& settings) {
  if (settings.flag(Settings::ALL_USERS_FLAG)) {
    const base::Result<> reinstalled = RunReinstallCommand();
    if (!reinstalled.ok()) {
      LOG(WARNING) << "Not resetting the default browser: "
                   << base::DescribeFailure(reinstalled.failure());
      return;
    }
  }
  if (base::GetWindowsVersion() != base::OS_VERSION_WIN8) {
    // The uninstall goes on either way; the user can pick another browser later.
    for (const wchar_t* extension : {L".htm", L".html"}) {
      if (!SetDefaultThroughAssociationRegistration(L"Internet Explorer", extension, false))
        LOG(WARNING) << "Could not hand " << base::WideToUTF8(extension) << " back";
    }
    for (const wchar_t* protocol : {L"http", L"https"}) {
      if (!SetDefaultThroughAssociationRegistration(L"Internet Explorer", protocol, true))
        LOG(WARNING) << "Could not hand " << base::WideToUTF8(protocol) << " back";
    }
  } else if (SUCCEEDED(AssociationSystem::Current().open_with_dialog(L"http"))) {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  }
}

void ShowSurvey(InstallationContext* context) {
  std::string url = GetProductUrl("uninstall_survey");
  if (url.empty() || base::CommandLine::ForCurrentProcess()->HasSwitch(switches::kSilent)) return;
  VLOG(1) << "Trying to display the uninstall survey";
  url += "?version=" + GetProductVersion();
  FolderInstallationInfo info(context->GetInstallFolder());
  base::FilePath user_data;
  if (info.GetUserDataFolder(&user_data)) {
    GlobalStorage* storage = GlobalStorage::Instance();
    storage->LoadFallback(user_data);
    std::string uuid;
    if (storage->Get("UUID", &uuid) != GlobalStorage::kSuccess) uuid.clear();
    url += "&uuid=" + uuid;
  }
  std::vector<std::string> welcome = base::SplitString(
      context->GetSettings()->status().welcome_url(), "?", base::KEEP_WHITESPACE,
      base::SPLIT_WANT_ALL);
  if (welcome.size() == 2) url += "&" + welcome[1];
  base::FilePath program_files;
  if (!base::PathRegistry::Get(base::DIR_PROGRAM_FILES, &program_files)) return;
  const base::Result<uint32_t> survey = context->GetSystem().launch_detached(
      BuildSurveyCommand(program_files, base::UTF8ToWide(url), base::GetWindowsVersion()));
  if (!survey.ok()) {
    LOG(WARNING) << "Could not open the uninstall survey";
    LOG(WARNING) << base::DescribeFailure(survey.failure());
  }
}

// Writes the batch into the install folder and sees that it runs once every process it
// waits for has ended.
void LeaveCleanupBatch(InstallationContext* context, const CleanupBatch& batch) {
  const base::FilePath& install_folder = context->GetInstallFolder();
  const base::FilePath batch_file = install_folder.Append(kCleanupBatchFileName);
  const HeldInstallFolder* held = context->GetHeldInstallFolder();
  // Held until this process has started it: what starts is what was written.
  HeldFile written;
  const base::Result<> wrote =
      held ? WriteCleanupBatch(held->folder(), BuildCleanupBatchText(batch), &written)
           : base::Failure{ERROR_INVALID_HANDLE, 0, "the install folder is not held", {}};
  if (!wrote.ok()) {
    // Nothing is started: a batch at that name is not this run's.
    if (wrote.failure().kind == kHeldLink)
      LOG(WARNING) << "Not writing " << batch_file.AsUTF8()
                   << ", reached through a link: " << wrote.failure().text;
    LOG(WARNING) << "Could not write " << batch_file.AsUTF8() << ": "
                 << base::DescribeFailure(wrote.failure());
    return;
  }
  // The permission helper runs the batch itself once the others have ended.
  if (context->HasPermissionHelper()) return;
  // A front end that runs as this process does starts the batch as it ends, after
  // every other process the batch waits for; one elevated apart could not.
  if (context->GetSecondInstallerPid() != 0 || !LeaveToFrontEnd(install_folder)) {
    LOG(INFO) << "Starting final cleanup batch file.";
    const base::Result<> started = context->GetSystem().start_cleanup_batch(batch_file);
    if (!started.ok()) {
      LOG(WARNING) << "Could not start " << batch_file.AsUTF8();
      LOG(WARNING) << base::DescribeFailure(started.failure());
    }
  }
}

// The program files of the processes `pids` (0 skipped) as the system names them; one
// that cannot be read is left out.
std::vector<base::FilePath> ProgramFilesOf(const std::vector<uint32_t>& pids) {
  std::vector<base::FilePath> programs;
  std::vector<wchar_t> buffer(32768);
  for (uint32_t pid : pids) {
    if (!pid) continue;
    base::ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    DWORD size = static_cast<DWORD>(buffer.size());
    if (process.IsValid() && QueryFullProcessImageNameW(process.Get(), 0, buffer.data(), &size))
      programs.emplace_back(std::wstring(buffer.data(), size));
  }
  return programs;
}

// Only a folder that holds the browser's data: a profile template's parent (the folder
// of every user) or a drive root must never go.
bool IsProductUserDataFolder(const base::FilePath& folder) {
  return !folder.empty() && folder.DirName() != folder &&
         base::PathExists(folder.Append(L"Local State"));
}

}  // namespace

void SplitReinstallCommand(const std::wstring& command, std::wstring* program,
                           std::wstring* parameters) {
  program->clear();
  parameters->clear();
  size_t split;
  size_t skip;
  std::wstring text = command;
  if (!text.empty() && text[0] == L'"') {
    text.erase(0, 1);
    split = text.find(L'"');
    skip = 2;  // the quote and the blank after it
  } else {
    split = text.find(L' ');
    skip = 1;
  }
  if (split == std::wstring::npos) {
    *program = text;
    return;
  }
  *program = text.substr(0, split);
  if (split + skip < text.size()) *parameters = text.substr(split + skip);
}

std::wstring BuildSurveyCommand(const base::FilePath& program_files, const std::wstring& url,
                                int os_version) {
  // Quoted: the path has blanks, and an unquoted one would start "C:\Program.exe".
  std::wstring command =
      L"\"" + program_files.Append(L"Internet Explorer\\iexplore.exe").value() + L"\"";
  if (os_version >= base::OS_VERSION_WIN8) command += L" -private";
  return command + L" \"" + url + L"\"";
}

void ResetDefaultBrowserAndShowSurvey(InstallationContext* context) {
  NotifyAssociationsChanged();
  const Settings& settings = *context->GetSettings();
  if (settings.flag(Settings::COPY_ONLY)) return;
  VLOG(1) << "Attempting to reset the default browser to IE.";
  if (settings.status().handles_http() && base::GetWindowsVersion() >= base::OS_VERSION_VISTA)
    ResetDefaultBrowser(settings);
  if (context->GetSystem().is_user_admin()) {
    const InstallLog* existing = settings.status().record();
    CreateFirewallRules(context->GetSystem(), GetProductExecutablePath(context->GetInstallFolder(),
                                                 existing ? existing->subfolder : std::wstring()),
                        true);
  }
  ShowSurvey(context);
}

StepResult FinalizeUninstallationStep::Run(int32_t /*attempt*/) {
  VLOG(1) << "Finalizing the uninstallation";
  std::vector<base::FilePath> failed;
  const base::FilePath record = context_->GetInstallFolder().Append(kStatusFileName);
  // Removed last at the commit: while its copy is there, the next uninstallation finishes
  // this one.
  if (!context_->GetTransaction()->ExecuteCommittedLast(
          std::make_unique<HeldDeleteOperation>(context_->GetHeldTree(), record, false, true)))
    failed.push_back(record);
  if (!failed.empty()) {
    return StepResult(StepResult::STATUS_FAIL, INSTALLER_ERROR_UNINSTALL_INCOMPLETE,
                      std::wstring(), "Failed to remove installation status file");
  }
  ResetDefaultBrowserAndShowSurvey(context_);
  return StepResult();
}

StepResult CleanupAfterUninstallStep::Run(int32_t /*attempt*/) {
  LOG(INFO) << "Cleaning up files after uninstallation";
  Settings* settings = context_->GetSettings();
  const InstallLog* existing = settings->status().record();
  if (!settings->flag(Settings::COPY_ONLY)) {
    VLOG(1) << "Removing scheduled task";
    const base::Result<> deleted =
        DeleteAutoupdateTask(context_->GetSystem(), existing ? existing->app_id : std::string());
    if (!deleted.ok())
      LOG(WARNING) << "Could not remove scheduled task: "
                   << base::DescribeFailure(deleted.failure());
  }
  const base::FilePath& install_folder = context_->GetInstallFolder();
  CleanupBatch batch;
  std::set<std::wstring> folders;
  std::vector<base::FilePath> failed = *context_->GetFilesLeftToCleanupBatch();
  if (existing) {
    const base::FilePath version_folder = install_folder.Append(existing->subfolder);
    for (const std::wstring& name : existing->files)
      DeleteOrNote(context_, version_folder.Append(name), true, true, &failed);
  }
  for (const base::FilePath& path : failed) {
    for (base::FilePath folder = path.DirName(); folder.DirName() != folder;
         folder = folder.DirName())
      folders.insert(folder.value());
  }
  DeleteOrNote(context_, install_folder.Append(kLauncherFileName), true, true, &failed);
  if (!IsWhiteLabeled()) {
    const base::FilePath old_executable =
        install_folder.Append(base::UTF8ToWide(GetExecutableFileName())).ReplaceExtension(kBrowserOldCopyExtension);
    if (base::PathExists(old_executable) &&
        !DeleteThrough(context_, old_executable, false, false))
      VLOG(1) << "Could not remove " << old_executable.AsUTF8();
  }
  DeleteOrNote(context_, install_folder.Append(kPrefDefaultOverridesFileName), false, true,
               &failed);
  for (const base::FilePath& path : failed) batch.failed_files.push_back(path.value());
  if (existing) {
    // The record names files: a folder of that name is somebody else's, and stays.
    for (const std::wstring& name : existing->root_files) {
      if (!DeleteThrough(context_, install_folder.Append(name), true, true))
        VLOG(1) << "Could not remove " << base::WideToUTF8(name);
    }
  }
  uint64_t initial_pid = 0;
  const std::wstring initial =
      base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(switches::kInitialPid);
  if (!base::StringToUint64(base::WideToUTF8(initial), &initial_pid)) initial_pid = 0;
  // The permission helper runs the batch itself once the others have ended, and waits
  // for it: a batch waiting for the helper would never end.
  batch.pids = {GetCurrentProcessId(), static_cast<uint32_t>(initial_pid),
                context_->HasPermissionHelper() ? 0u : context_->GetSecondInstallerPid()};
  if (!batch.failed_files.empty()) {
    // Until the batch has deleted them, the run's note names them for a later run.
    std::vector<uint32_t> holders = batch.pids;
    // The uninstall entry's launcher started the front end, waits for it and ends with it.
    if (initial_pid)
      holders.push_back(base::GetParentProcessId(static_cast<uint32_t>(initial_pid)));
    const base::FilePath note = context_->LeaveRunNoteToBatch(failed, ProgramFilesOf(holders));
    if (!note.empty()) {
      batch.failed_files.push_back(note.value());
      folders.insert(note.DirName().value());
    }
  }
  batch.folders.assign(folders.begin(), folders.end());
  LeaveCleanupBatch(context_, batch);
  if (settings->flag(Settings::DELETE_PROFILE)) DeleteProfile();
  return StepResult();
}

void CleanupAfterUninstallStep::DeleteProfile() {
  FolderInstallationInfo info(context_->GetInstallFolder());
  base::FilePath user_data;
  if (!info.GetUserDataFolderForAllUsers(&user_data)) return;
  base::FilePath local;
  info.RebaseAppDataPath(user_data, &local);
  LOG(INFO) << "Deleting user profile.";
  // "Local State" lives in the roaming half only: it vouches for both.
  if (!IsProductUserDataFolder(user_data)) {
    LOG(WARNING) << "Not deleting " << user_data.AsUTF8() << ": not the browser's data folder";
    return;
  }
  if (!base::DeleteFile(user_data, true)) {
    LOG(WARNING) << "Could not delete " << user_data.AsUTF8();
    return;
  }
  if (local != user_data && !base::DeleteFile(local, true))
    LOG(WARNING) << "Could not delete " << local.AsUTF8();
}

}  // namespace installer
