#include "desktop/windows/installer/elevated_helper/set_folder_permission.h"

#include <aclapi.h>
#include <shellapi.h>

#include <memory>
#include <utility>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/names/kernel_object_names.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/elevated_helper/admin_only_folder.h"
#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"
#include "desktop/windows/installer/elevated_helper/grant_folder_check.h"
#include "desktop/windows/installer/elevated_helper/protected_places.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/verification/downloaded_version_check.h"

namespace installer {

namespace {

[[nodiscard]] base::ScopedHandle OpenFolderEvent(const wchar_t* prefix,
                                                 const base::FilePath& folder, bool global,
                                                 DWORD access) {
  const std::wstring name = GetKernelObjectName(folder.value(), prefix, global);
  return base::ScopedHandle(OpenEventW(access, FALSE, name.c_str()));
}

// The installer that started the helper, from "initial-pid"; invalid when there
// is none.
[[nodiscard]] base::ScopedHandle OpenInitialProcess(const base::CommandLine& command_line,
                                                    DWORD access) {
  unsigned pid = 0;
  if (!base::StringToUint(command_line.GetSwitchValueASCII(switches::kInitialPid), &pid))
    return base::ScopedHandle();
  return base::ScopedHandle(OpenProcess(access, FALSE, pid));
}

// Runs the package's installer elevated only from a copy the user cannot change, only
// when that copy passes `rule` (a signed build's requires the expected signature) and
// is no older than this installer. The package folder and the package-ready event both
// belong to the user.
void RunPackageInstaller(const base::CommandLine& command_line, SignatureRule rule) {
  const base::FilePath planted =
      command_line.GetSwitchValuePath(switches::kWaitForPackage).Append(L"installer.exe");
  AdminOnlyFolder folder;
  base::FilePath copy;
  if (!folder.Create() || !folder.CopyIn(planted, L"installer.exe", &copy)) {
    LOG(ERROR) << "Not running the package's installer: it cannot be copied to a safe place";
    return;
  }
  base::ScopedHandle hold;
  if (!HoldVerifiedProgram(copy, rule, &hold) || !CheckVersionFloor(copy).ok()) {
    LOG(ERROR) << "Not running the package's installer " << planted.AsUTF8();
    return;
  }
  base::CommandLine package_installer(copy);
  // "initial-pid" too, so the package's helper also stops waiting when the
  // installer dies.
  static const char* const kCopied[] = {switches::kCrashReporterPid, switches::kSetFolderPermission,
                                        switches::kPermissionsForUser,
                                        switches::kPermanentPermissions, switches::kInitialPid};
  package_installer.CopySwitchesFrom(command_line, kCopied, sizeof(kCopied) / sizeof(kCopied[0]));
  base::LaunchOptions options;
  options.wait = true;
  const base::Process launched = base::LaunchProcess(package_installer, options);
  if (!launched.IsValid()) {
    PLOG(ERROR) << "The package's installer " << copy.AsUTF8() << " could not be started";
    return;
  }
  int32_t exit_code = 0;
  if (!launched.WaitForExit(&exit_code)) {
    PLOG(ERROR) << "The end of the package's installer cannot be read";
    return;
  }
  LOG(INFO) << "The package's installer ended with " << exit_code;
}

// Waits for the package (or the end of the installation) and runs the package's
// own installer in helper mode.
void RunFromPackageWhenReady(const base::CommandLine& command_line, const base::FilePath& folder,
                             SignatureRule rule) {
  if (!command_line.HasSwitch(switches::kInitialPid)) {
    LOG(ERROR) << "Not waiting for the package: no requesting process was named";
    return;
  }
  base::ScopedHandle package_ready =
      OpenFolderEvent(kernel_objects::kPackageReadyEventPrefix, folder, true, SYNCHRONIZE);
  base::ScopedHandle interrupted = OpenFolderEvent(
      kernel_objects::kInstallationInterruptedEventPrefix, folder, true, SYNCHRONIZE);
  if (!package_ready.IsValid() || !interrupted.IsValid()) {
    LOG(ERROR) << "Not waiting for the package: the installation's events are missing";
    return;
  }
  base::ScopedHandle process = OpenInitialProcess(command_line, SYNCHRONIZE);
  if (!process.IsValid()) {
    PLOG(ERROR) << "Not waiting for the package: the requesting process cannot be held";
    return;
  }

  const HANDLE waits[] = {package_ready.Get(), interrupted.Get(), process.Get()};
  const DWORD waited = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
  if (waited != WAIT_OBJECT_0) {
    LOG(WARNING) << "Not running the package's installer: the installation ended first ("
                 << waited << ")";
    return;
  }
  RunPackageInstaller(command_line, rule);
}

[[nodiscard]] bool FindAccountSid(const std::wstring& name, std::vector<uint8_t>* sid) {
  DWORD sid_size = 0;
  DWORD domain_size = 0;
  SID_NAME_USE use;
  (void)LookupAccountNameW(nullptr, name.c_str(), nullptr, &sid_size, nullptr, &domain_size, &use);
  if (sid_size == 0) return false;
  sid->resize(sid_size);
  std::vector<wchar_t> domain(domain_size + 1);
  domain_size = static_cast<DWORD>(domain.size());
  return LookupAccountNameW(nullptr, name.c_str(), sid->data(), &sid_size, domain.data(),
                            &domain_size, &use) != FALSE;
}

// Normalises, checks, makes when missing, and holds the folder to be granted; `made`
// receives the folders made for it.
base::Result<> CheckAndHoldGrantFolder(const base::FilePath& folder, HANDLE requester_token,
                                       const FolderPermissionHelperEnvironment& environment,
                                       base::FilePath* normalized, base::ScopedHandle* hold,
                                       std::vector<MadeFolder>* made) {
  const base::Result<base::FilePath> resolved = NormalizeGrantFolder(folder);
  if (!resolved.ok()) return resolved.failure();
  *normalized = resolved.value();
  base::Result<std::vector<ProtectedPlace>> places =
      ListProtectedPlaces(requester_token, environment.place_sources);
  if (!places.ok()) return places.failure();
  GrantRules rules;
  rules.places = std::move(places).value();
  rules.places.insert(rules.places.end(), environment.more_places.begin(),
                      environment.more_places.end());
  const base::Result<> place = CheckGrantablePlace(*normalized, rules.places);
  if (!place.ok()) return place;
  const base::Result<> created = CreateMissingFolders(*normalized, rules, made);
  if (!created.ok()) return created;
  // The decision itself is made on the folder held open.
  const bool made_for_request =
      !made->empty() &&
      base::FilePath::CompareIgnoreCase(made->back().path.value(), normalized->value()) == 0;
  base::Result<base::ScopedHandle> held = HoldGrantableFolder(*normalized, rules,
                                                              made_for_request);
  if (!held.ok()) return held.failure();
  *hold = std::move(held).value();
  return {};
}

[[nodiscard]] bool PrepareGrantFolder(const base::FilePath& folder, HANDLE requester_token,
                                      const FolderPermissionHelperEnvironment& environment,
                                      base::FilePath* normalized, base::ScopedHandle* hold,
                                      std::vector<MadeFolder>* made) {
  const base::Result<> prepared =
      CheckAndHoldGrantFolder(folder, requester_token, environment, normalized, hold, made);
  if (!prepared.ok()) {
    LOG(ERROR) << "Refusing to give access to " << folder.AsUTF8() << ": "
               << base::DescribeFailure(prepared.failure());
    // What was made for a refused request goes again, so that nothing is left in the way.
    RemoveMadeFoldersIfEmpty(*made);
  }
  return prepared.ok();
}

// Whether the held file or folder has been deleted (its last handle keeps it until then).
bool IsDeleted(HANDLE object) {
  FILE_STANDARD_INFO standard = {};
  return GetFileInformationByHandleEx(object, FileStandardInfo, &standard, sizeof(standard)) &&
         standard.DeletePending;
}

class SystemSecurity : public internal::HeldObjectSecurity {
 public:
  DWORD GetDacl(HANDLE object, int object_type, PACL* dacl,
                PSECURITY_DESCRIPTOR* descriptor) override {
    return GetSecurityInfo(object, static_cast<SE_OBJECT_TYPE>(object_type),
                           DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr, descriptor);
  }
  DWORD SetDacl(HANDLE object, int object_type, PACL dacl) override {
    return SetSecurityInfo(object, static_cast<SE_OBJECT_TYPE>(object_type),
                           DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr);
  }
};

}  // namespace

namespace internal {

HeldObjectSecurity* SystemHeldObjectSecurity() {
  static SystemSecurity system;
  return &system;
}

bool ResolvePrincipal(const base::CommandLine& command_line, Requester* requester) {
  // One handle for the account and the end-wait: a second open could find the process
  // gone, or its id taken by another process.
  requester->process =
      OpenInitialProcess(command_line, PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE);
  HANDLE raw_token = nullptr;
  if (!requester->process.IsValid() ||
      !OpenProcessToken(requester->process.Get(), TOKEN_QUERY | TOKEN_IMPERSONATE, &raw_token)) {
    PLOG(ERROR) << "Cannot tell which user asks for access: the requesting process cannot "
                   "be held";
    return false;
  }
  requester->token.Set(raw_token);
  std::vector<uint8_t>* sid = &requester->sid;
  if (!GetTokenUserSid(requester->token.Get(), sid)) {
    PLOG(ERROR) << "Cannot read the account of the requesting process";
    return false;
  }
  // The name must be that process's account: a process id reused by another user's
  // process, or a name of a group or another user, picks nobody.
  const std::wstring name = command_line.GetSwitchValueNative(switches::kPermissionsForUser);
  std::vector<uint8_t> named;
  if (name.empty() || !FindAccountSid(name, &named) || named != *sid) {
    LOG(ERROR) << "The account named is not the user of the requesting process";
    return false;
  }
  return true;
}

bool GrantUntilEnd(HANDLE object, int object_type, PSID principal, bool permanent, HANDLE granted,
                   const std::vector<HANDLE>& ends, base::ScopedHandle hold,
                   const FolderPermissionHelperEnvironment& environment) {
  HeldObjectSecurity* security = environment.security;
  PACL old_dacl = nullptr;
  PSECURITY_DESCRIPTOR raw_descriptor = nullptr;
  if (security->GetDacl(object, object_type, &old_dacl, &raw_descriptor) != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot read the access list of the install folder";
    return false;
  }
  base::ScopedLocalAlloc<> descriptor(raw_descriptor);  // owns old_dacl too
  if (!descriptor.IsValid()) return false;

  EXPLICIT_ACCESSW access =
      FullControlEntryFor(principal, SUB_CONTAINERS_AND_OBJECTS_INHERIT, TRUSTEE_IS_USER);
  PACL raw_new_dacl = nullptr;
  if (SetEntriesInAclW(1, &access, old_dacl, &raw_new_dacl) != ERROR_SUCCESS) return false;
  base::ScopedLocalAlloc<ACL> new_dacl(raw_new_dacl);

  if (security->SetDacl(object, object_type, raw_new_dacl) != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot give access to the install folder";
    return false;
  }
  // Let go of the hold that kept the folder's name once granted: the installation may
  // remove the folder (a rollback, an uninstallation).
  hold.Close();
  if (permanent) {
    (void)SetEvent(granted);
    return true;
  }
  if (SetEvent(granted)) {
    // Undo is first: only the installation's own end asks for the pause.
    const DWORD result =
        WaitForMultipleObjects(static_cast<DWORD>(ends.size()), ends.data(), FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) Sleep(environment.undo_delay_ms);
  }
  if (security->SetDacl(object, object_type, old_dacl) == ERROR_SUCCESS) return true;
  if (object_type == SE_FILE_OBJECT && IsDeleted(object)) {
    LOG(INFO) << "Nothing to take access back from: the folder is gone";
    return true;
  }
  LOG(ERROR) << "Could not restore the access list of the install folder: the user keeps "
                "full control of it";
  return false;
}

std::string SwitchChangedByTrimming(const std::wstring& raw_command_line) {
  static const char* const kHelperSwitches[] = {
      switches::kSetFolderPermission, switches::kPermissionsForUser, switches::kWaitForPackage,
      switches::kInitialPid, switches::kPermanentPermissions};
  int count = 0;
  const base::ScopedLocalAlloc<wchar_t*> args(
      CommandLineToArgvW(raw_command_line.c_str(), &count));
  for (int i = 1; args.IsValid() && i < count; ++i) {
    const std::wstring raw = args.Get()[i];
    if (raw == L"--") break;
    std::wstring trimmed;
    (void)base::TrimString(raw, base::kWhitespaceWide, &trimmed);
    if (trimmed == raw) continue;
    // The switch as the parser names it: prefix, name up to "=", lower case.
    size_t start = trimmed.find_first_not_of(L"-/");
    if (start == std::wstring::npos || start == 0 || start > 2) continue;
    const std::string name = base::ToLowerASCII(
        base::WideToUTF8(trimmed.substr(start, trimmed.find(L'=') - start)));
    for (const char* helper_switch : kHelperSwitches) {
      if (name == helper_switch) return name;
    }
  }
  return std::string();
}

}  // namespace internal

bool RunSetFolderPermission(const base::CommandLine& command_line, base::FilePath* granted_folder,
                            const FolderPermissionHelperEnvironment& environment) {
  if (!command_line.HasSwitch(switches::kPermissionsForUser)) return true;
  const base::FilePath folder = command_line.GetSwitchValuePath(switches::kSetFolderPermission);
  // A value the trimming changed (a final no-break or ideographic space) is not what was
  // asked: nothing is acted on.
  const std::string trimmed = internal::SwitchChangedByTrimming(environment.raw_command_line);
  if (!trimmed.empty()) {
    LOG(ERROR) << "Refusing the request: the value of \"" << trimmed
               << "\" ends or starts with white space that was trimmed away";
    return true;
  }
  if (command_line.HasSwitch(switches::kWaitForPackage)) {
    RunFromPackageWhenReady(command_line, folder, environment.signature_rule);
    return true;
  }

  base::ScopedHandle granted = OpenFolderEvent(kernel_objects::kGiveInstallPermissionEventPrefix,
                                               folder, false, EVENT_ALL_ACCESS);
  base::ScopedHandle undo = OpenFolderEvent(kernel_objects::kGiveInstallPermissionUndoEventPrefix,
                                            folder, false, EVENT_ALL_ACCESS);
  if (!granted.IsValid() || !undo.IsValid()) {
    LOG(ERROR) << "Not giving access to " << folder.AsUTF8()
               << ": the installation's events are missing";
    return true;
  }

  base::FilePath normalized;
  base::ScopedHandle hold;  // keeps the checked folder in its place until it is granted
  std::vector<MadeFolder> made;
  internal::Requester requester;
  if (!internal::ResolvePrincipal(command_line, &requester) ||
      !PrepareGrantFolder(folder, requester.token.Get(), environment, &normalized, &hold, &made))
    return false;
  // The same folder, for the grant and its undoing, without keeping it from removal.
  base::ScopedHandle object(ReOpenFile(hold.Get(), READ_CONTROL | WRITE_DAC,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  if (!object.IsValid()) {
    PLOG(ERROR) << "Cannot hold the install folder for its access list";
    hold.Close();
    RemoveMadeFoldersIfEmpty(made);
    return false;
  }

  // An installation that dies before Undo must not leave the grant behind for
  // good.
  std::vector<HANDLE> ends = {undo.Get()};
  base::ScopedHandle interrupted = OpenFolderEvent(
      kernel_objects::kInstallationInterruptedEventPrefix, folder, true, SYNCHRONIZE);
  if (interrupted.IsValid()) ends.push_back(interrupted.Get());
  ends.push_back(requester.process.Get());

  const bool permanent = command_line.HasSwitch(switches::kPermanentPermissions);
  const bool done = internal::GrantUntilEnd(object.Get(), SE_FILE_OBJECT, requester.sid.data(),
                                            permanent, granted.Get(), ends, std::move(hold),
                                            environment);
  object.Close();
  // A cancelled or failed run leaves no empty folder of its own behind: a new folder
  // outside Program Files is granted only when this request makes it.
  if (!permanent) RemoveMadeFoldersIfEmpty(made);
  if (done && granted_folder) *granted_folder = normalized;
  return done;
}

}  // namespace installer
