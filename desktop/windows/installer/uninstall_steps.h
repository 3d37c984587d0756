// The last steps of an uninstallation: FinalizeUninstallationStep removes the
// installation record and hands the web back to Internet Explorer (and offers the
// survey); CleanupAfterUninstallStep removes the autoupdate task and the installed
// files, and leaves "k.bat" behind to delete, once every installer process of the
// uninstallation has ended, what was locked, the emptied folders and itself.
#ifndef DESKTOP_WINDOWS_INSTALLER_UNINSTALL_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_UNINSTALL_STEPS_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/process/process.h"
#include "desktop/windows/installer/installer_step.h"

namespace installer {

class InstallationContext;

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
// first; the folders removed deepest first.
std::string BuildCleanupBatchText(const CleanupBatch& batch);

// Whether `text` is exactly what BuildCleanupBatchText writes for a batch whose
// deletions stay inside `install_folder`, with no link below the folder on their
// way; rmdir may also name the folders above it, which it removes only when
// empty. Paths are compared in long form. False with `reason` otherwise; else
// the batch read from the text into `parsed`, when given.
[[nodiscard]] bool ValidateCleanupBatchText(const std::string& text,
                                            const base::FilePath& install_folder,
                                            std::string* reason,
                                            CleanupBatch* parsed = nullptr);

// The command line that runs `batch_file` with `interpreter` (cmd), its output
// discarded.
std::wstring BuildCleanupBatchCommand(const base::FilePath& interpreter,
                                      const base::FilePath& batch_file);

// Starts the batch file hidden, with the system folder's cmd, its output discarded; not
// waited for.
base::Process StartCleanupBatch(const base::FilePath& batch_file);

// Splits the ReinstallCommand of a browser's InstallInfo into program and parameters:
// at the closing quote of a quoted program, else at the first blank.
void SplitReinstallCommand(const std::wstring& command, std::wstring* program,
                           std::wstring* parameters);

// The command that opens the uninstall survey `url` privately in Internet Explorer.
std::wstring BuildSurveyCommand(const base::FilePath& program_files, const std::wstring& url,
                                int os_version);

// Broadcasts the association change and, unless copy-only, resets the default browser,
// removes the firewall rules and offers the survey.
void ResetDefaultBrowserAndShowSurvey(InstallationContext* context);

class FinalizeUninstallationStep : public ContextStep {
 public:
  using ContextStep::ContextStep;
  StepResult Run(int32_t attempt) override;
};

class CleanupAfterUninstallStep : public ContextStep {
 public:
  using ContextStep::ContextStep;
  StepResult Run(int32_t attempt) override;

 private:
  void DeleteProfile();
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UNINSTALL_STEPS_H_
