// The last steps of an uninstallation: FinalizeUninstallationStep removes the
// installation record and hands the web back to Internet Explorer (and offers the
// survey); CleanupAfterUninstallStep removes the autoupdate task and the installed
// files, and leaves "k.bat" behind to delete, once every installer process of the
// uninstallation has ended, what was locked, the emptied folders and itself.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_UNINSTALL_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_UNINSTALL_STEPS_H_

#include <stdint.h>

#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

class InstallationContext;

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

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_UNINSTALL_STEPS_H_
