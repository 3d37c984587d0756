#include "desktop/windows/installer/uninstall_steps.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>

#include "base/base_paths.h"
#include "base/base_paths_win.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
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
#include "desktop/windows/installer/finalize_installation_steps.h"
#include "desktop/windows/installer/grant_folder_check.h"
#include "desktop/windows/installer/installation_context.h"
#include "desktop/windows/installer/installer_system.h"
#include "desktop/windows/installer/os_operations.h"
#include "desktop/windows/installer/service/association_registration.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation_info_impl.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/path_names.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/status.h"

namespace installer {

namespace {

// Far above what an uninstallation waits for; bounds what a planted text can make us
// allocate.
const uint32_t kMaxProcessNumber = 1024;

bool DeleteThrough(Transaction* transaction, const base::FilePath& path, bool check_in_use,
                   bool remove_empty_parents) {
  return transaction->Execute(
      std::make_unique<DeleteFileOperation>(path, check_in_use, remove_empty_parents));
}

// Tells the front end that started this process to start the clean-up batch as it
// ends; false when it did not ask for that.
bool LeaveToFrontEnd(const base::FilePath& install_folder) {
  const std::wstring name = GetKernelObjectName(
      install_folder.value(), kernel_objects::kCleanupBatchLeftEventPrefix, true);
  base::ScopedHandle left(OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
  if (!left.IsValid() || !SetEvent(left.Get())) return false;
  LOG(INFO) << "Leaving the final cleanup batch file to the front end.";
  return true;
}

// Runs Internet Explorer's own re-registration as the machine's browser, and waits.
bool RunReinstallCommand() {
  base::RegistryKey key;
  std::wstring command;
  if (key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients\\StartMenuInternet\\IEXPLORE.EXE\\InstallInfo",
               KEY_QUERY_VALUE) != ERROR_SUCCESS ||
      key.ReadValue(L"ReinstallCommand", &command) != ERROR_SUCCESS)
    return false;
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
  if (disabled) revert(old_value);
  if (!launched || !info.hProcess) return false;
  base::ScopedHandle process(info.hProcess);
  WaitForSingleObject(process.Get(), INFINITE);
  return true;
}

void ResetDefaultBrowser(const Settings& settings) {
  if (settings.flag(Settings::ALL_USERS_FLAG) && !RunReinstallCommand()) return;
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
  uint32_t pid = 0;
  if (!GetInstallerSystem().launch_detached(
          BuildSurveyCommand(program_files, base::UTF8ToWide(url), base::GetWindowsVersion()),
          &pid))
    LOG(WARNING) << "Could not open the uninstall survey";
}

// Only a folder that holds the browser's data: a profile template's parent (the folder
// of every user) or a drive root must never go.
bool IsProductUserDataFolder(const base::FilePath& folder) {
  return !folder.empty() && folder.DirName() != folder &&
         base::PathExists(folder.Append(L"Local State"));
}

// The path of a line `command` "<path>".
bool TakeQuotedPath(const std::string& line, const std::string& command, std::wstring* path) {
  const std::string prefix = command + " \"";
  if (line.size() <= prefix.size() || line.compare(0, prefix.size(), prefix) != 0 ||
      line.back() != '"') {
    return false;
  }
  *path = base::UTF8ToWide(line.substr(prefix.size(), line.size() - prefix.size() - 1));
  return true;
}

// A path that cmd takes as written: "X:\" and plain names, without quotes, variables,
// wildcards, streams or components that Windows would drop or resolve.
bool IsPlainPath(const std::wstring& path) {
  if (path.size() < 4 || !iswalpha(path[0]) || path[1] != L':' || path[2] != L'\\') return false;
  for (size_t i = 2; i < path.size(); ++i) {
    const wchar_t c = path[i];
    if (c < 32 || wcschr(L"\"%*?/:<>|^!", c)) return false;
  }
  std::vector<std::wstring> components = base::SplitString(
      path.substr(3), L"\\", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  for (const std::wstring& component : components) {
    if (component.empty() || component.back() == L'.' || component.back() == L' ') return false;
  }
  return true;
}

// Deletions inside the install folder that reach nothing through a link.
bool IsConfinedPath(const std::wstring& text, const base::FilePath& install_folder,
                    bool folder_or_above, std::string* reason) {
  base::FilePath path(text);
  base::FilePath link;
  if (!IsPlainPath(text)) {
    *reason = "not a plain path: " + path.AsUTF8();
    return false;
  }
  // Compared in long form: the writer names non-ASCII paths by their short names.
  if (!NormalizeGrantFolder(base::FilePath(text), &path, reason)) return false;
  if (folder_or_above && IsSameOrUnder(install_folder, path)) return true;
  if (!IsSameOrUnder(path, install_folder) || IsSameOrUnder(install_folder, path)) {
    *reason = "outside the install folder: " + path.AsUTF8();
  } else if (FindReparsePoint(path, install_folder, &link)) {
    *reason = "through the link " + link.AsUTF8();
  } else {
    return true;
  }
  return false;
}

// The number of a "SET PID<n>_RUNNING=TRUE" line.
bool TakeProcessNumber(const std::string& line, uint32_t* number) {
  static const char kSet[] = "SET PID";
  static const char kRunning[] = "_RUNNING=TRUE";
  const size_t start = sizeof(kSet) - 1;
  const size_t end = line.find('_', start);
  return line.compare(0, start, kSet) == 0 && end != std::string::npos &&
         line.compare(end, std::string::npos, kRunning) == 0 &&
         base::StringToUint(line.substr(start, end - start), number) && *number > 0;
}

}  // namespace

bool ValidateCleanupBatchText(const std::string& text, const base::FilePath& install_folder,
                              std::string* reason, CleanupBatch* parsed) {
  base::FilePath folder;
  if (!NormalizeGrantFolder(install_folder, &folder, reason)) return false;
  CleanupBatch batch;
  std::vector<uint32_t> names;  // the numbers of the waited-for processes
  std::vector<uint32_t> pids;
  static const char kTaskList[] = "TASKLIST /FI \"PID eq ";
  std::wstring path;
  for (std::string line :
       base::SplitString(text, "\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    uint32_t number = 0;
    if (TakeProcessNumber(line, &number)) {
      names.push_back(number);
    } else if (line.compare(0, sizeof(kTaskList) - 1, kTaskList) == 0 &&
               base::StringToUint(line.substr(sizeof(kTaskList) - 1,
                                              line.find('"', sizeof(kTaskList) - 1) -
                                                  (sizeof(kTaskList) - 1)),
                                  &number)) {
      pids.push_back(number);
    } else if (line != "del %0" && TakeQuotedPath(line, "del", &path)) {
      if (!IsConfinedPath(path, folder, false, reason)) return false;
      batch.failed_files.push_back(path);
    } else if (TakeQuotedPath(line, "rmdir", &path)) {
      if (!IsConfinedPath(path, folder, true, reason)) return false;
      batch.folders.push_back(path);
    }
    // Any other line must be one the writer writes: the text is rebuilt below.
  }
  bool numbered = !names.empty() && names.size() == pids.size() && names[0] == 1 &&
                  names.back() <= kMaxProcessNumber;
  for (size_t i = 1; numbered && i < names.size(); ++i) numbered = names[i] > names[i - 1];
  if (numbered) {
    batch.pids.assign(names.back(), 0);
    for (size_t i = 0; i < names.size(); ++i) batch.pids[names[i] - 1] = pids[i];
  }
  if (!numbered || BuildCleanupBatchText(batch) != text) {
    *reason = "it holds more than the clean-up after an uninstallation";
    return false;
  }
  if (parsed) *parsed = batch;
  return true;
}

std::string BuildCleanupBatchText(const CleanupBatch& batch) {
  std::vector<std::string> lines;
  lines.push_back("chcp 65001>nul");
  std::vector<std::string> names;
  for (size_t i = 0; i < batch.pids.size(); ++i) {
    if (i > 0 && batch.pids[i] == 0) continue;
    const std::string name = "PID" + std::to_string(i + 1);
    names.push_back(name);
    lines.push_back("SET " + name + "_RUNNING=TRUE");
  }
  lines.push_back(":again");
  size_t index = 0;
  for (size_t i = 0; i < batch.pids.size(); ++i) {
    if (i > 0 && batch.pids[i] == 0) continue;
    const std::string& name = names[index++];
    lines.push_back("IF %" + name + "_RUNNING%==TRUE (");
    lines.push_back("TASKLIST /FI \"PID eq " + std::to_string(batch.pids[i]) +
                    "\" | FIND /c /i \".exe\"");
    lines.push_back("IF ERRORLEVEL 1 SET " + name + "_RUNNING=FALSE");
    lines.push_back(")");
  }
  lines.push_back("ping -n 2 127.0.0.1");
  for (const std::string& name : names)
    lines.push_back("IF %" + name + "_RUNNING%==TRUE GOTO :again");
  for (const std::wstring& path : batch.failed_files)
    lines.push_back("del \"" + base::WideToUTF8(GetBatchSafePath(path)) + "\"");
  // rmdir only removes an empty folder: children before their parents. Ordered as
  // written (a short name sorts apart from its long name), deeper first.
  std::set<std::pair<size_t, std::wstring>, std::greater<>> folders;
  for (const std::wstring& folder : batch.folders) {
    const std::wstring written = GetBatchSafePath(folder);
    folders.emplace(std::count(written.begin(), written.end(), L'\\'), written);
  }
  for (const auto& folder : folders)
    lines.push_back("rmdir \"" + base::WideToUTF8(folder.second) + "\"");
  lines.push_back("del %0");
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::wstring BuildCleanupBatchCommand(const base::FilePath& interpreter,
                                      const base::FilePath& batch_file) {
  // cmd drops the outer quotes; the console the installer may share with its caller is
  // not the batch's to write to.
  return L"\"" + interpreter.value() + L"\" /c \"\"" + batch_file.value() + L"\" >nul 2>&1\"";
}

base::Process StartCleanupBatch(const base::FilePath& batch_file) {
  base::FilePath system_folder;
  if (!base::PathRegistry::Get(base::DIR_SYSTEM, &system_folder)) return base::Process();
  base::LaunchOptions options;
  options.start_hidden = true;
  // Not the install folder, whose working folder could not be removed; cmd looks for
  // its tools in the working folder first.
  options.current_directory = system_folder;
  return base::LaunchProcess(
      BuildCleanupBatchCommand(system_folder.Append(L"cmd.exe"), batch_file), options);
}

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
  if (GetInstallerSystem().is_user_admin()) {
    const InstallLog* existing = settings.status().record();
    CreateFirewallRules(GetProductExecutablePath(context->GetInstallFolder(),
                                                 existing ? existing->subfolder : std::wstring()),
                        true);
  }
  ShowSurvey(context);
}

StepResult FinalizeUninstallationStep::Run(int32_t /*attempt*/) {
  VLOG(1) << "Finalizing the uninstallation";
  if (!DeleteThrough(context_->GetTransaction(),
                     context_->GetInstallFolder().Append(L"installation_status.xml"), false,
                     true)) {
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
    DeleteAutoupdateTask(existing ? existing->app_id : std::string());
  }
  Transaction* transaction = context_->GetTransaction();
  const base::FilePath& install_folder = context_->GetInstallFolder();
  CleanupBatch batch;
  std::set<std::wstring> folders;
  if (existing) {
    const base::FilePath version_folder = install_folder.Append(existing->subfolder);
    for (const std::wstring& name : existing->files) {
      const base::FilePath path = version_folder.Append(name);
      if (DeleteThrough(transaction, path, true, true)) continue;
      batch.failed_files.push_back(path.value());
      for (base::FilePath folder = path.DirName(); folder.DirName() != folder;
           folder = folder.DirName())
        folders.insert(folder.value());
    }
  }
  const base::FilePath launcher = install_folder.Append(L"launcher.exe");
  if (!DeleteThrough(transaction, launcher, true, true))
    batch.failed_files.push_back(launcher.value());
  if (!IsWhiteLabeled()) {
    const base::FilePath old_executable =
        install_folder.Append(base::UTF8ToWide(GetExecutableFileName())).ReplaceExtension(L".old");
    if (base::PathExists(old_executable) &&
        !DeleteThrough(transaction, old_executable, false, false))
      VLOG(1) << "Could not remove " << old_executable.AsUTF8();
  }
  const base::FilePath overrides = install_folder.Append(L"pref_default_overrides");
  if (!DeleteThrough(transaction, overrides, false, true))
    batch.failed_files.push_back(overrides.value());
  if (existing) {
    for (const std::wstring& name : existing->root_files) {
      if (!DeleteThrough(transaction, install_folder.Append(name), true, true))
        VLOG(1) << "Could not remove " << base::WideToUTF8(name);
    }
  }
  batch.folders.assign(folders.begin(), folders.end());
  uint64_t initial_pid = 0;
  const std::wstring initial =
      base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(switches::kInitialPid);
  if (!base::StringToUint64(base::WideToUTF8(initial), &initial_pid)) initial_pid = 0;
  batch.pids = {GetCurrentProcessId(), static_cast<uint32_t>(initial_pid),
                context_->GetSecondInstallerPid()};
  const base::FilePath batch_file = install_folder.Append(kCleanupBatchFileName);
  const std::string text = BuildCleanupBatchText(batch);
  if (base::WriteFile(batch_file, text.data(), static_cast<int>(text.size())) !=
      static_cast<int>(text.size()))
    LOG(WARNING) << "Could not write " << batch_file.AsUTF8();
  if (!context_->HasPermissionHelper()) {
    // A front end that runs as this process does starts the batch as it ends, after
    // every other process the batch waits for; one elevated apart could not.
    if (context_->GetSecondInstallerPid() != 0 || !LeaveToFrontEnd(install_folder)) {
      LOG(INFO) << "Starting final cleanup batch file.";
      if (!GetInstallerSystem().start_cleanup_batch(batch_file))
        LOG(WARNING) << "Could not start " << batch_file.AsUTF8();
    }
  }
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
