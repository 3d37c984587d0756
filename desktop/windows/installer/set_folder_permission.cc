#include "desktop/windows/installer/set_folder_permission.h"

#include <aclapi.h>

#include <memory>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/process/launch.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installation_event_names.h"
#include "desktop/windows/installer/service/utils.h"

namespace installer {

namespace {

DWORD g_undo_delay_ms = 10000;

struct LocalFreeDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};
typedef std::unique_ptr<void, LocalFreeDeleter> ScopedLocalMemory;

base::ScopedHandle OpenFolderEvent(const wchar_t* prefix, const base::FilePath& folder, bool global,
                                   DWORD access) {
  const std::wstring name = GetKernelObjectName(folder.value(), prefix, global);
  return base::ScopedHandle(OpenEventW(access, FALSE, name.c_str()));
}

// The installer that started the helper, from "initial-pid"; invalid when there
// is none.
base::ScopedHandle OpenInitialProcess(const base::CommandLine& command_line) {
  unsigned pid = 0;
  if (!base::StringToUint(command_line.GetSwitchValueASCII("initial-pid"), &pid))
    return base::ScopedHandle();
  return base::ScopedHandle(OpenProcess(SYNCHRONIZE, FALSE, pid));
}

// Waits for the package (or the end of the installation) and runs the package's
// own installer in helper mode.
void RunFromPackageWhenReady(const base::CommandLine& command_line, const base::FilePath& folder) {
  if (!command_line.HasSwitch("initial-pid")) return;
  base::ScopedHandle package_ready =
      OpenFolderEvent(kPackageReadyEventPrefix, folder, true, SYNCHRONIZE);
  base::ScopedHandle interrupted =
      OpenFolderEvent(kInstallationInterruptedEventPrefix, folder, true, SYNCHRONIZE);
  if (!package_ready.IsValid() || !interrupted.IsValid()) return;
  base::ScopedHandle process = OpenInitialProcess(command_line);
  if (!process.IsValid()) return;

  const HANDLE waits[] = {package_ready.Get(), interrupted.Get(), process.Get()};
  if (WaitForMultipleObjects(3, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return;

  base::CommandLine package_installer(
      command_line.GetSwitchValuePath("wait-for-package").Append(L"installer.exe"));
  // "initial-pid" too, so the package's helper also stops waiting when the
  // installer dies.
  static const char* const kCopied[] = {"crash-reporter-pid", "set-folder-permission",
                                        "permissions-for-user", "permanent-permissions",
                                        "initial-pid"};
  package_installer.CopySwitchesFrom(command_line, kCopied, sizeof(kCopied) / sizeof(kCopied[0]));
  base::LaunchOptions options;
  options.wait = true;
  (void)base::LaunchProcess(package_installer, options);
}

}  // namespace

void SetUndoDelayForTesting(DWORD milliseconds) { g_undo_delay_ms = milliseconds; }

namespace internal {

bool GrantUntilEnd(const std::wstring& object_name, int object_type, const std::wstring& user,
                   bool permanent, HANDLE granted, const std::vector<HANDLE>& ends) {
  const SE_OBJECT_TYPE type = static_cast<SE_OBJECT_TYPE>(object_type);
  PACL old_dacl = nullptr;
  PSECURITY_DESCRIPTOR raw_descriptor = nullptr;
  if (GetNamedSecurityInfoW(object_name.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &old_dacl, nullptr, &raw_descriptor) != ERROR_SUCCESS) {
    return false;
  }
  ScopedLocalMemory descriptor(raw_descriptor);  // owns old_dacl too
  if (!descriptor) return false;

  EXPLICIT_ACCESSW access = {};
  BuildExplicitAccessWithNameW(&access, const_cast<wchar_t*>(user.c_str()), GENERIC_ALL,
                               GRANT_ACCESS, SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  PACL raw_new_dacl = nullptr;
  if (SetEntriesInAclW(1, &access, old_dacl, &raw_new_dacl) != ERROR_SUCCESS) return false;
  ScopedLocalMemory new_dacl(raw_new_dacl);

  std::wstring name = object_name;  // the call takes a writable string
  if (SetNamedSecurityInfoW(&name[0], type, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            raw_new_dacl, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  if (permanent) {
    (void)SetEvent(granted);
    return true;
  }
  if (SetEvent(granted)) {
    // Undo is first: only the installation's own end asks for the pause.
    const DWORD result =
        WaitForMultipleObjects(static_cast<DWORD>(ends.size()), ends.data(), FALSE, INFINITE);
    if (result == WAIT_OBJECT_0) Sleep(g_undo_delay_ms);
  }
  (void)SetNamedSecurityInfoW(&name[0], type, DACL_SECURITY_INFORMATION, nullptr, nullptr, old_dacl,
                              nullptr);
  return true;
}

}  // namespace internal

void RunSetFolderPermission(const base::CommandLine& command_line) {
  if (!command_line.HasSwitch("permissions-for-user")) return;
  const base::FilePath folder = command_line.GetSwitchValuePath("set-folder-permission");
  if (command_line.HasSwitch("wait-for-package")) {
    RunFromPackageWhenReady(command_line, folder);
    return;
  }

  base::ScopedHandle granted =
      OpenFolderEvent(kGiveInstallPermissionEventPrefix, folder, false, EVENT_ALL_ACCESS);
  base::ScopedHandle undo =
      OpenFolderEvent(kGiveInstallPermissionUndoEventPrefix, folder, false, EVENT_ALL_ACCESS);
  if (!granted.IsValid() || !undo.IsValid()) return;
  if (!base::DirectoryExists(folder) && !base::CreateDirectory(folder)) return;

  // An installation that dies before Undo must not leave the grant behind for
  // good.
  std::vector<HANDLE> ends = {undo.Get()};
  base::ScopedHandle interrupted =
      OpenFolderEvent(kInstallationInterruptedEventPrefix, folder, true, SYNCHRONIZE);
  if (interrupted.IsValid()) ends.push_back(interrupted.Get());
  base::ScopedHandle installer_process = OpenInitialProcess(command_line);
  if (installer_process.IsValid()) ends.push_back(installer_process.Get());

  (void)internal::GrantUntilEnd(
      folder.value(), SE_FILE_OBJECT, command_line.GetSwitchValueNative("permissions-for-user"),
      command_line.HasSwitch("permanent-permissions"), granted.Get(), ends);
}

void RunUninstallBat(const base::FilePath& folder) {
  const base::FilePath batch = folder.Append(L"k.bat");
  if (!base::PathExists(batch)) return;
  base::LaunchOptions options;
  options.start_hidden = true;
  // Quoted: an unquoted path with blanks could start another program.
  (void)base::LaunchProcess(L"\"" + batch.value() + L"\"", options);
}

}  // namespace installer
