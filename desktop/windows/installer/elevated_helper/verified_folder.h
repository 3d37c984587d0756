// A folder an elevated installer runs a program from, such as a component's folder copied
// into a folder only administrators can change: the program finds its libraries beside
// itself, so every program file in the folder, not only the one started, must pass the
// signer rule, and stays held until the run that uses it has ended. What is a program is
// decided by the file's content, never by its name.
//
//   std::vector<HeldProgram> held;
//   const base::Result<> verified =
//       HoldVerifiedProgramFiles(copy, ThisBuildSignatureRule(), &held);
//   if (verified.ok() && IsHeldProgram(held, installer_name))
//     Run(copy.Append(installer_name));  // then let `held` go once the run has ended
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_VERIFIED_FOLDER_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_VERIFIED_FOLDER_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/result.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/verification/authenticode.h"

namespace installer {

// A program file verified and held against writes, renames and deletion.
struct HeldProgram {
  // Its path inside the folder checked ("suite_installer.exe", "bin\helper.dll").
  base::FilePath relative;
  base::ScopedHandle hold;
};

// Whether the open file's content starts as every executable image does ("MZ"): any PE
// image, and one whose PE header is damaged is taken for a program too, never for data.
// A failure when it cannot be read.
[[nodiscard]] base::Result<bool> IsProgramImage(HANDLE file, const base::FilePath& path);

// Holds every file and folder in `folder` (links refused) and verifies each program
// file by the signer rule `rule`, keeping the verified ones in `held`.
// Fails, with the reason naming the file, on the first one that does not pass, on a link,
// and on anything that cannot be held or read; `held` is then empty.
[[nodiscard]] base::Result<> HoldVerifiedProgramFiles(const base::FilePath& folder,
                                                      SignatureRule rule,
                                                      std::vector<HeldProgram>* held);

// Whether the file at `relative` inside the folder checked is one of those in `held`.
bool IsHeldProgram(const std::vector<HeldProgram>& held, const base::FilePath& relative);

// Whether `name` is one plain entry of a folder wherever it is used: not empty, "." or
// "..", without separators, wildcards, quotes, control characters and a trailing dot or
// space, and not a device's name ("NUL", "COM1.txt").
bool IsPlainEntryName(const std::wstring& name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_VERIFIED_FOLDER_H_
