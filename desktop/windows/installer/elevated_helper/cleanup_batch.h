// The clean-up batch that an uninstallation leaves behind: its writer, the validator the
// elevated helper runs on a batch before it runs it, and how it is started.
#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_CLEANUP_BATCH_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_CLEANUP_BATCH_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/process/process.h"
#include "base/result.h"
#include "desktop/windows/installer/service/held_file.h"

namespace installer {

// What the clean-up batch file deletes once the processes `pids` (0 entries skipped;
// the first is always waited for) have ended.
struct CleanupBatch {
  std::vector<uint32_t> pids;
  std::vector<std::wstring> failed_files;
  std::vector<std::wstring> folders;
};

// The clean-up batch in the install folder.
constexpr wchar_t kCleanupBatchFileName[] = L"k.bat";

// The batch file's text: UTF-8 with CRLF line ends, switched to the UTF-8 code page
// first; the folders removed deepest first. Paths are written as cmd reads them inside
// quotes with delayed expansion off ("%" doubled), non-ASCII ones by their short names.
std::string BuildCleanupBatchText(const CleanupBatch& batch);

// The batch read from `text` when the text is exactly what BuildCleanupBatchText writes
// for a batch whose deletions stay inside `install_folder`, with no link below the
// folder on their way; rmdir may also name the folders above it, which it removes only
// when empty. Paths are read as cmd reads them and compared in long form. Refused
// otherwise.
base::Result<CleanupBatch> ValidateCleanupBatchText(const std::string& text,
                                                    const base::FilePath& install_folder);

// Writes `text` as the clean-up batch of the held install `folder`: whatever is at its
// name is removed first as itself (a link, never what it leads to; another name of a file
// elsewhere, never that file), then the batch is made as a new file there and held in
// *written, which nobody can write, rename or replace until it is let go. A link that the
// system follows despite the asking (Wine's host links) or a folder at the name is left
// and refused: nothing is written.
base::Result<> WriteCleanupBatch(const HeldFile& folder, const std::string& text,
                                 HeldFile* written);

// The whole text of the held batch file, read through its handle; refused when larger
// than a clean-up batch.
base::Result<std::string> ReadCleanupBatch(const HeldFile& file);

// The command line that runs the batch named in the environment of
// BuildCleanupBatchEnvironment with `interpreter` (cmd), its output discarded.
std::wstring BuildCleanupBatchCommand(const base::FilePath& interpreter);

// The caller's environment with `batch_file` added for BuildCleanupBatchCommand.
std::wstring BuildCleanupBatchEnvironment(const base::FilePath& batch_file);

// The text of a batch run from a copy of `batch_file`: the batch's own text whose end
// deletes `batch_file` by its path as written (never by a name cmd reads again), then the
// copy.
std::string BuildCleanupBatchCopyText(std::string text, const base::FilePath& batch_file);

// A new copy of `batch_file` in the user's Temp, under a name without "%", that deletes
// `batch_file` and itself at its end. The batch is read through a handle of its folder,
// refused when it is a link or holds more than the clean-up after an uninstallation of
// that folder (ValidateCleanupBatchText): whoever can write the folder may have put it
// there. Refused too where the Temp folder's path holds "%".
base::Result<base::FilePath> CopyCleanupBatchToTemp(const base::FilePath& batch_file);

// Starts a copy of the batch file (CopyCleanupBatchToTemp) with StartBatchCopy.
[[nodiscard]] base::Process StartCleanupBatch(const base::FilePath& batch_file);

// Starts the batch `copy` hidden, with the system folder's cmd, in the system folder, its
// output discarded; not waited for. Wine's cmd expands "%" once more in the path it
// starts and in %0, which then names another folder's batch: `copy`'s path holds none.
[[nodiscard]] base::Process StartBatchCopy(const base::FilePath& copy);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATED_HELPER_CLEANUP_BATCH_H_
