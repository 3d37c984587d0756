// The folder-permission helper: an elevated run of the installer that grants a
// user full control of the install folder while a non-elevated installation
// writes into it.
//
//   installer --set-folder-permission=<folder> --permissions-for-user=<user>
//             [--permanent-permissions] [--initial-pid=<pid>]
//             [--wait-for-package=<dir>]
//
// The helper sets "GiveInstallPermission" once the grant is in place and,
// unless the grant is permanent, puts the old access list back when the
// installation sets "GiveInstallPermission/Undo", is interrupted, or its
// process ends.
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_SET_FOLDER_PERMISSION_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_SET_FOLDER_PERMISSION_H_

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/process/process.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/elevated_helper/elevated_program_check.h"
#include "desktop/windows/installer/elevated_helper/protected_places.h"

namespace base {
class CommandLine;
}

namespace installer {

namespace internal {

// The security calls on an object held open; a test replaces them.
class HeldObjectSecurity {
 public:
  virtual ~HeldObjectSecurity() = default;
  // As GetSecurityInfo for the DACL; the descriptor is freed with LocalFree.
  [[nodiscard]] virtual DWORD GetDacl(HANDLE object, int object_type, PACL* dacl,
                                      PSECURITY_DESCRIPTOR* descriptor) = 0;
  // As SetSecurityInfo for the DACL.
  [[nodiscard]] virtual DWORD SetDacl(HANDLE object, int object_type, PACL dacl) = 0;
};

// The system's calls.
HeldObjectSecurity* SystemHeldObjectSecurity();

}  // namespace internal

// What the helper relies on besides its command line; a test passes its own.
struct FolderPermissionHelperEnvironment {
  // The signature rule that decides whether the package's installer runs.
  SignatureRule signature_rule = ThisBuildSignatureRule();
  // The pause after Undo before the old access list returns.
  DWORD undo_delay_ms = 10000;
  // The security calls on the held folder.
  internal::HeldObjectSecurity* security = internal::SystemHeldObjectSecurity();
  // The process's command line as it came, before its arguments were trimmed.
  std::wstring raw_command_line = GetCommandLineW();
  // Places a test adds to the machine's (a folder of its own that stands for Program
  // Files); none otherwise.
  std::vector<ProtectedPlace> more_places;
  // Where the protected places are read from: the system's keys, or a test's.
  PlaceSources place_sources;
};

// The helper mode for `command_line`; does nothing without
// "permissions-for-user". A refused folder or requester, or a grant that could not be
// taken back, is logged and gives false; the installation sees the missing signal. A
// request that is not acted on (its events missing, its switches changed by trimming)
// and the waiting variant log their reason and give true.
// `granted_folder`, when given, receives the resolved folder once a grant was
// made (and, unless permanent, taken back).
[[nodiscard]] bool RunSetFolderPermission(
    const base::CommandLine& command_line, base::FilePath* granted_folder = nullptr,
    const FolderPermissionHelperEnvironment& environment = FolderPermissionHelperEnvironment());

namespace internal {

// The process that asked for the grant, held once for the whole run: its account is
// the one granted, its token finds its own shell folders, and its end ends the grant.
struct Requester {
  base::ScopedHandle process;  // query and synchronise rights
  base::ScopedHandle token;    // query and impersonate rights
  std::vector<uint8_t> sid;
};

// The account to give access to: the user of the "initial-pid" process's token, and
// only when "permissions-for-user" names that same account. Without a requesting
// process to identify and hold, nothing is granted: a name alone never decides.
[[nodiscard]] bool ResolvePrincipal(const base::CommandLine& command_line, Requester* requester);

// Which of the helper's switches in `raw_command_line` (as the process got it) the
// command line's trimming changed; empty when none did.
std::string SwitchChangedByTrimming(const std::wstring& raw_command_line);

// Adds a GENERIC_ALL entry for `principal`, inherited by files and subfolders, to the
// DACL of the held `object` (SE_OBJECT_TYPE `object_type`, opened with READ_CONTROL and
// WRITE_DAC), closes `hold` and sets `granted`. Unless `permanent`, waits for the first
// of `ends` (after Undo, the first of them, also the pause) and writes the old DACL back
// through the same handle, so a name that meanwhile means another object is never
// written to. False when the grant was not made or could not be taken back.
[[nodiscard]] bool GrantUntilEnd(
    HANDLE object, int object_type, PSID principal, bool permanent, HANDLE granted,
    const std::vector<HANDLE>& ends, base::ScopedHandle hold = base::ScopedHandle(),
    const FolderPermissionHelperEnvironment& environment = FolderPermissionHelperEnvironment());

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_SET_FOLDER_PERMISSION_H_
