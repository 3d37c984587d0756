// What an elevated installer starts of a file that a standard user could have put in
// place (the package folder lies in the user's temporary folder): when this is a signed
// build, only a file that the expected signer signed, held so that it cannot change
// between the check and the start.
//
//   base::ScopedHandle hold;
//   if (HoldVerifiedProgram(program, &hold)) Launch(program);  // then let `hold` go
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ELEVATED_PROGRAM_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ELEVATED_PROGRAM_CHECK_H_

#include <vector>

#include "base/files/file_path.h"
#include "base/result.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/held_file.h"
#include "desktop/windows/installer/verification/authenticode.h"

namespace installer {

// Opens `program` so that nobody can write, rename or delete it while `hold` is open,
// and verifies its signature and signer unless `rule` (by default this build's) does not
// require it. False, with the reason logged, when it must not run.
[[nodiscard]] bool HoldVerifiedProgram(const base::FilePath& program, SignatureRule rule,
                                       base::ScopedHandle* hold);
[[nodiscard]] bool HoldVerifiedProgram(const base::FilePath& program, base::ScopedHandle* hold);

// Whether the file at `final_path`, which the caller holds so that nobody writes, renames
// or deletes it, passes `rule`; the reason logged when it does not.
[[nodiscard]] base::Result<> CheckHeldFileSignature(const base::FilePath& final_path,
                                                    SignatureRule rule);

// As above, and the held file's final path (links resolved): the path to start, since the
// folders on `program`'s way may lead elsewhere once the file is held.
[[nodiscard]] base::Result<base::FilePath> HoldVerifiedProgramAtFinalPath(
    const base::FilePath& program, SignatureRule rule, base::ScopedHandle* hold);
[[nodiscard]] base::Result<base::FilePath> HoldVerifiedProgramAtFinalPath(
    const base::FilePath& program, base::ScopedHandle* hold);

// This process's executable as it was started; empty when it cannot be found. Only a
// name: the file there now may be another one.
[[nodiscard]] base::FilePath RunningInstallerPath();

// Holds the file this process's image is mapped from, shared for reading only: found by
// the name the mapping reports (which follows a rename on Windows) or the name the
// process was started with, and taken only when the system says the held file is the
// one mapped, never whatever now sits at the name. Fails when neither name leads to it.
[[nodiscard]] base::Result<> HoldOwnImage(HeldFile* image);

namespace internal {

// HoldOwnImage trying `names`, in order, for the file the image at `image` is mapped from.
[[nodiscard]] base::Result<> HoldMappedImageAt(const void* image,
                                               const std::vector<base::FilePath>& names,
                                               HeldFile* held);

// The names the mapping of `image` and the process give for its file.
std::vector<base::FilePath> OwnImageNames(const void* image);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_ELEVATED_PROGRAM_CHECK_H_
