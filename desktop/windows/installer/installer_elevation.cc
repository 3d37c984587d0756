#include "desktop/windows/installer/installer_elevation.h"

#include <aclapi.h>
#include <shellapi.h>

#include <memory>
#include <utility>
#include <vector>

#include "base/base_paths.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_generic.h"
#include "base/win/windows_version.h"
#include "crash/reporter/crash_client.h"
#include "desktop/common/names/kernel_object_names.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/elevated_helper/admin_only_folder.h"
#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"
#include "desktop/windows/installer/package_copy.h"
#include "desktop/windows/installer/steps/installation_context.h"
#include "desktop/windows/installer/private_kernel_object.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/kernel_object_name.h"

namespace installer {

namespace {

const wchar_t kPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

// Counted in the statistics record for each partner file an elevated run leaves out:
// nothing signed vouches for them there.
const char kPartnerFileLeftOutEvent[] = "partner_files_not_installed.elevated_unverified";
const int kMaxPartnerFilesReported = 64;

std::wstring CrashReporterIdText() {
  return base::StringPrintf(L"%u", crash_reporter::GetCrashReporterProcessId());
}

// "runas" of `executable` with `arguments`; the process handle, or an invalid
// one with the thread's last error set.
[[nodiscard]] base::ScopedHandle ShellExecuteElevated(const base::FilePath& executable,
                                                      const std::wstring& arguments) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // The consent prompt still shows; the shell's own error boxes do not: the installation
  // reports the failure itself, and a backend has nobody to click them away.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"runas";
  info.lpFile = executable.value().c_str();
  info.lpParameters = arguments.c_str();
  info.nShow = SW_SHOW;
  if (!ShellExecuteExW(&info)) return base::ScopedHandle();
  if (!info.hProcess) SetLastError(ERROR_INVALID_HANDLE);
  return base::ScopedHandle(info.hProcess);
}

// Elevated, the package folder is the user's: the installer runs from the package taken
// out of the signed full-package installer into a folder that only administrators can
// change, and only verified. `command_line`'s program becomes the taken package's
// installer, held in `hold`, verified by `rule`; its components are those that passed it,
// their installers held in `component_programs`; `partner_files_left_out` counts the
// partner files that stay out.
[[nodiscard]] bool PrepareElevatedRun(SignatureRule rule, PackageUnpacker* unpacker,
                                      AdminOnlyFolder* folder, base::CommandLine* command_line,
                                      base::ScopedHandle* hold,
                                      std::vector<base::ScopedHandle>* component_programs,
                                      int* partner_files_left_out) {
  const base::FilePath package = command_line->GetProgram().DirName();
  if (!folder->Create()) return false;
  ElevatedPackage taken;
  const base::Result<> result =
      TakeElevatedPackage(package, command_line->GetSwitchValueNative(switches::kComponents),
                          rule, unpacker, folder->path(), &taken);
  if (!result.ok()) {
    LOG(ERROR) << "Not running the package's installer: " << base::DescribeFailure(result.failure());
    return false;
  }
  *partner_files_left_out = taken.partner_files_left_out;
  if (command_line->HasSwitch(switches::kComponents)) {
    // Only the components that passed the signer rule.
    base::CommandLine::StringVector argv;
    const std::wstring prefix = L"--" + base::UTF8ToWide(switches::kComponents) + L"=";
    for (const std::wstring& argument : command_line->argv())
      if (argument.compare(0, prefix.size(), prefix) != 0) argv.push_back(argument);
    *command_line = base::CommandLine(argv);
    if (!taken.components.empty())
      command_line->AppendSwitchNative(switches::kComponents, taken.components);
  }
  command_line->SetProgram(taken.folder.Append(L"installer.exe"));
  *component_programs = std::move(taken.component_programs);
  LOG(INFO) << "Package taken for the elevated run into " << taken.folder.AsUTF8();
  return HoldVerifiedProgram(command_line->GetProgram(), rule, hold);
}

[[nodiscard]] bool GetInstallerExecutable(base::FilePath* executable) {
  if (base::PathRegistry::Get(base::FILE_EXE, executable)) return true;
  LOG(ERROR) << "Failed to obtain installer exe file path";
  return false;
}

}  // namespace

HandOverError GetRunElevatedError(HandOverResult result) {
  switch (result) {
    case HAND_OVER_NOT_ELEVATED:
      return {INSTALLER_ERROR_ELEVATION, "Elevated installation failed."};
    case HAND_OVER_PROCESS_FAILED:
      return {INSTALLER_ERROR_GENERAL, "Installer process did not complete successfully."};
    default:
      return {INSTALLER_ERROR_GENERAL, "Error when setting up the installer process"};
  }
}

HandOverError GetFolderPermissionError(HandOverResult result) {
  switch (result) {
    case HAND_OVER_NOT_ELEVATED:
      return {INSTALLER_ERROR_ELEVATION,
              "Failed to elevate the process to give us write permissions to installation folder"};
    case HAND_OVER_PROCESS_FAILED:
      return {INSTALLER_ERROR_GENERAL,
              "The process for giving us write permission to the installer folder didn't "
              "complete successfully"};
    default:
      return {INSTALLER_ERROR_GENERAL,
              "Error when setting up the process to give us write permissions to installation "
              "folder"};
  }
}

bool IsUacEnabled() {
  return internal::IsUacEnabledFor(IsUserAdmin(true), base::GetWindowsVersion(), HKEY_LOCAL_MACHINE,
                                   kPolicyKey);
}

HandOverResult RunElevated(const base::CommandLine& settings_command_line,
                           const base::CommandLine& process_command_line,
                           ElevationDelegate* delegate) {
  LOG(INFO) << "Running the installer elevated.";
  if (!IsUacEnabled()) {
    LOG(ERROR) << "Cannot elevate with UAC disabled";
    return HAND_OVER_NOT_ELEVATED;
  }
  if (process_command_line.HasSwitch(switches::kRunElevated)) {
    LOG(ERROR) << "This process should already be elevated, but isn't.";
    return HAND_OVER_NOT_ELEVATED;
  }
  base::FilePath executable;
  if (!GetInstallerExecutable(&executable)) return HAND_OVER_SETUP_FAILED;
  return internal::RunElevatedFrom(executable, settings_command_line, process_command_line,
                                   delegate);
}

HandOverResult ObtainFolderPermission(const base::FilePath& folder, bool permanent,
                                      bool uninstall,
                                      const base::CommandLine& process_command_line,
                                      FolderPermission* permission) {
  LOG(INFO) << "Run an elevated process in order to " << (permanent ? "permanently" : "temporarily")
            << " give permissions on the"
            << "install folder to this process";
  if (!IsUacEnabled()) {
    LOG(ERROR) << "Cannot elevate with UAC disabled";
    return HAND_OVER_NOT_ELEVATED;
  }
  base::FilePath executable;
  if (!base::PathRegistry::Get(base::FILE_EXE, &executable)) executable.clear();
  return internal::ObtainFolderPermissionFrom(executable, folder, permanent, uninstall,
                                              process_command_line, permission);
}

bool FixEventACL(HANDLE event) {
  PACL old_dacl = nullptr;
  PSECURITY_DESCRIPTOR raw_descriptor = nullptr;
  DWORD result = GetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, &old_dacl, nullptr, &raw_descriptor);
  if (result != ERROR_SUCCESS) {
    SetLastError(result);
    PLOG(ERROR) << "FixEventACL: failed to GetSecurityInfo";
    return false;
  }
  base::ScopedLocalAlloc<> descriptor(raw_descriptor);

  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID raw_sid = nullptr;
  if (!AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &raw_sid)) {
    PLOG(ERROR) << "FixEventACL: failed to AllocateAndInitializeSid";
    return false;
  }
  base::ScopedSid administrators(raw_sid);

  EXPLICIT_ACCESSW access =
      FullControlEntryFor(raw_sid, NO_INHERITANCE, TRUSTEE_IS_WELL_KNOWN_GROUP);
  PACL raw_new_dacl = nullptr;
  if (SetEntriesInAclW(1, &access, old_dacl, &raw_new_dacl) != ERROR_SUCCESS) {
    LOG(ERROR) << "FixEventACL: failed to SetEntriesInAcl";
    return false;
  }
  base::ScopedLocalAlloc<ACL> new_dacl(raw_new_dacl);
  if (SetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      raw_new_dacl, nullptr) != ERROR_SUCCESS) {
    LOG(ERROR) << "FixEventACL: failed to SetSecurityInfo";
    return false;
  }
  return true;
}

PackageHandOver::PackageHandOver(const base::FilePath& install_folder,
                                 const base::CommandLine* process_command_line, Delegate* delegate,
                                 PackageUnpacker* unpacker, SignatureRule rule)
    : install_folder_(install_folder),
      rule_(rule),
      unpacker_(unpacker),
      process_command_line_(process_command_line),
      delegate_(delegate) {}

PackageHandOver::~PackageHandOver() = default;

void PackageHandOver::WaitForPackage(bool post_elevation_tasks) {
  LOG(INFO) << "Need to wait for actual package";
  post_elevation_tasks_ = post_elevation_tasks;
  const std::wstring name =
      GetKernelObjectName(install_folder_.value(), kernel_objects::kPackageReadyEventPrefix, true);
  VLOG(1) << "Event name for package_ready: " << name;
  package_ready_event_.Set(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  if (!package_ready_event_.IsValid()) {
    if (ClaimOutcome())
      delegate_->ReportError(0, "Failed to open a handle to the package ready event");
    return;
  }
  if (WaitForSingleObject(package_ready_event_.Get(), 0) == WAIT_OBJECT_0) {
    OnObjectSignaled(package_ready_event_.Get());
    return;
  }
  if (!package_ready_watcher_.StartWatching(package_ready_event_.Get(), this) && ClaimOutcome()) {
    delegate_->ReportError(0, "Failed to watch the package ready event");
  }
}

void PackageHandOver::OnObjectSignaled(HANDLE object) {
  if (interrupted_event_ && object == interrupted_event_) {
    LOG(INFO) << "Installation was interrupted";
    delegate_->Cancel();
    return;
  }
  // A second signal finds the outcome reported and runs nothing again.
  if (outcome_reported_) return;
  LOG(INFO) << "Package is ready";
  RunPackageInstaller();
}

void PackageHandOver::RunPackageInstaller() {
  base::CommandLine command_line = delegate_->GetSettingsCommandLine();
  command_line.SetProgram(process_command_line_->GetSwitchValuePath(switches::kWaitForPackage)
                              .Append(L"installer.exe"));
  if (post_elevation_tasks_) command_line.AppendSwitch(switches::kPostElevatedInstallTasks);
  command_line.AppendSwitchNative(switches::kCrashReporterPid, CrashReporterIdText());

  delegate_->OnStartingNewMainProcess(false);
  delegate_->Finish();
  LOG(INFO) << "Running installer from the package with command line: "
            << command_line.GetCommandLineString();
  base::ScopedHandle hold;
  // The package's installer starts these at any time while it runs.
  std::vector<base::ScopedHandle> component_programs;
  base::Process process;
  AdminOnlyFolder package_copy;
  int partner_files_left_out = 0;
  if (!IsUserAdmin(false) || PrepareElevatedRun(rule_, unpacker_, &package_copy, &command_line,
                                                 &hold, &component_programs,
                                                 &partner_files_left_out))
    process = base::LaunchProcess(command_line, base::LaunchOptions());
  // The statistics say what was installed; a hostile list reports no more than the bound.
  for (int i = 0; i < partner_files_left_out && i < kMaxPartnerFilesReported; ++i)
    delegate_->ReportImportantEvent(kPartnerFileLeftOutEvent);
  hold.Close();
  int32_t exit_code = -1;
  const bool ended = process.IsValid() && process.WaitForExit(&exit_code);
  component_programs.clear();
  delegate_->OnReturnedToPreviousMainProcess();

  if (ClaimOutcome()) {
    if (!process.IsValid()) {
      delegate_->ReportError(0, "Failed to start installer process from the package folder.");
    } else if (ended && exit_code == 0) {
      delegate_->OnInstallationSucceeded();
    } else {
      delegate_->ReportError(0, "Installer process did not complete successfully.");
    }
  }
  // After the outcome is on its way: the front end's own clean-up runs meanwhile.
  if (!package_copy.path().empty()) {
    LOG(INFO) << "Removing the package taken for the elevated run";
    package_copy.Remove();
  }
}

bool PackageHandOver::ClaimOutcome() {
  if (outcome_reported_) return false;
  outcome_reported_ = true;
  return true;
}

namespace internal {

bool IsUacEnabledFor(bool can_be_admin, int os_version, HKEY policy_root,
                     const wchar_t* policy_key) {
  if (can_be_admin || os_version < base::OS_VERSION_VISTA) return true;
  base::RegistryKey key;
  if (key.Open(policy_root, policy_key, KEY_QUERY_VALUE) != ERROR_SUCCESS) return true;
  DWORD enable_lua = 1;
  if (key.ReadValueDW(L"EnableLUA", &enable_lua) != ERROR_SUCCESS) return true;
  return enable_lua != 0;
}

HandOverResult RunElevatedFrom(const base::FilePath& executable,
                               const base::CommandLine& settings_command_line,
                               const base::CommandLine& process_command_line,
                               ElevationDelegate* delegate) {
  base::CommandLine command_line(settings_command_line);
  command_line.AppendSwitchNative(switches::kParentPid,
                                  base::StringPrintf(L"%lu", GetCurrentProcessId()));
  const bool wait_for_package = process_command_line.HasSwitch(switches::kWaitForPackage);
  if (wait_for_package) {
    command_line.AppendSwitchNative(
        switches::kWaitForPackage,
        process_command_line.GetSwitchValueNative(switches::kWaitForPackage));
  }
  command_line.AppendSwitch(switches::kRunElevated);

  delegate->OnStartingNewMainProcess(false);
  base::ScopedHandle process = ShellExecuteElevated(executable, command_line.GetArgumentsString());
  if (!process.IsValid()) {
    PLOG(ERROR) << "Failed to run the elevated process";
    return HAND_OVER_NOT_ELEVATED;
  }
  const DWORD wait = WaitForSingleObject(process.Get(), INFINITE);
  const DWORD wait_error = GetLastError();
  delegate->OnReturnedToPreviousMainProcess();
  if (wait == WAIT_FAILED) {
    SetLastError(wait_error);
    PLOG(ERROR) << "Failed wait for the elevated installer";
    return HAND_OVER_PROCESS_FAILED;
  }
  if (wait != WAIT_OBJECT_0) {
    LOG(ERROR) << "Unexpected result when waiting for the elevated installer";
    return HAND_OVER_PROCESS_FAILED;
  }
  DWORD exit_code = 1;
  if (!GetExitCodeProcess(process.Get(), &exit_code) || exit_code != 0)
    return HAND_OVER_PROCESS_FAILED;
  process.Close();
  if (wait_for_package) {
    delegate->WaitForPackage(true);
  } else {
    delegate->RunPostElevationTasks();
  }
  return HAND_OVER_SUCCEEDED;
}

HandOverResult ObtainFolderPermissionFrom(const base::FilePath& executable,
                                          const base::FilePath& folder, bool permanent,
                                          bool uninstall,
                                          const base::CommandLine& process_command_line,
                                          FolderPermission* permission) {
  std::wstring user;
  // With the domain: a bare name can resolve to another account of that name.
  if (!GetCurrentUserQualifiedName(&user) && !GetCurrentUserName(&user)) {
    LOG(ERROR) << "Failed to obtain user name";
    return HAND_OVER_SETUP_FAILED;
  }
  VLOG(1) << "User name is" << user;

  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  command_line.AppendSwitchPath(switches::kSetFolderPermission, folder);
  command_line.AppendSwitchNative(switches::kPermissionsForUser, user);
  if (permanent) command_line.AppendSwitch(switches::kPermanentPermissions);
  if (uninstall) command_line.AppendSwitch(switches::kRunUninstallBat);
  command_line.AppendSwitchNative(switches::kCrashReporterPid, CrashReporterIdText());
  if (process_command_line.HasSwitch(switches::kWaitForPackage)) {
    command_line.AppendSwitchNative(
        switches::kWaitForPackage,
        process_command_line.GetSwitchValueNative(switches::kWaitForPackage));
  }
  // The helper grants only the account of a process it can look at: without the front
  // end's, this process asks for itself.
  std::wstring initial_pid = process_command_line.GetSwitchValueNative(switches::kInitialPid);
  if (initial_pid.empty()) initial_pid = base::StringPrintf(L"%lu", GetCurrentProcessId());
  command_line.AppendSwitchNative(switches::kInitialPid, initial_pid);

  if (executable.empty()) {
    LOG(ERROR) << "Failed to obtain installer exe file path";
    return HAND_OVER_SETUP_FAILED;
  }

  const std::wstring granted_name =
      GetKernelObjectName(folder.value(), kernel_objects::kGiveInstallPermissionEventPrefix, false);
  const std::wstring undo_name = GetKernelObjectName(
      folder.value(), kernel_objects::kGiveInstallPermissionUndoEventPrefix, false);
  // Events someone else made first could say "granted" or "undo" for them.
  base::ScopedHandle granted, undo;
  if (!CreatePrivateEvent(granted_name, false, &granted) ||
      !CreatePrivateEvent(undo_name, false, &undo)) {
    LOG(ERROR) << "Failed to create event for communicating with the elevated process";
    return HAND_OVER_SETUP_FAILED;
  }
  if (base::GetWindowsVersion() >= base::OS_VERSION_VISTA &&
      (!FixEventACL(granted.Get()) || !FixEventACL(undo.Get()))) {
    return HAND_OVER_SETUP_FAILED;
  }

  base::ScopedHandle process = ShellExecuteElevated(executable, command_line.GetArgumentsString());
  if (!process.IsValid()) {
    PLOG(ERROR) << "Failed to run the elevated process";
    return HAND_OVER_NOT_ELEVATED;
  }
  // The event first: a permanent grant's helper may signal and end at once.
  const HANDLE waits[] = {granted.Get(), process.Get()};
  const DWORD wait = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (wait != WAIT_OBJECT_0) {
    PLOG(ERROR) << "Failed to run the elevated process";
    return HAND_OVER_PROCESS_FAILED;
  }
  permission->helper_pid = GetProcessId(process.Get());
  permission->undo_event = std::move(undo);
  return HAND_OVER_SUCCEEDED;
}

}  // namespace internal

}  // namespace installer
