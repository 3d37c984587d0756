// WriteInstallerPrefsStep: records the choices of the installation in the install
// folder's "installer_prefs.json" for the browser, later upgrades and autoupdates.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_WRITE_INSTALLER_PREFS_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_WRITE_INSTALLER_PREFS_STEP_H_

#include "desktop/windows/installer/steps/installer_step.h"

namespace base {
class List;
}

namespace installer {

class InstallationContext;

// The installer experiment entries ("<feature>@1" on, "<feature>@2" off): every feature
// in `all`, those whose state differs from their default in `changed`.
void GetInstallerExperiments(base::List* changed, base::List* all);

class WriteInstallerPrefsStep : public ContextStep {
 public:
  using ContextStep::ContextStep;

  // Never fails. The file is on disk when it returns.
  StepResult Run(int32_t attempt) override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_WRITE_INSTALLER_PREFS_STEP_H_
