// The steps that tie a finished installation into Windows: SetupProtocolHandlersStep
// (default browser and file handlers), RegisterProtocolHandlerStep (one more URL
// protocol for an existing installation) and FinalizeInstallationStep (the scheduled
// autoupdate task, the autoupdate error counter and the firewall rules).
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_FINALIZE_INSTALLATION_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_FINALIZE_INSTALLATION_STEPS_H_

#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/steps/installer_step.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/task_scheduler.h"

namespace installer {

class InstallationContext;

// The autoupdate task of an installation in `install_folder` with app id `app_id`.
ScheduledTaskInfo BuildAutoupdateTaskInfo(const base::FilePath& install_folder,
                                          const std::string& app_id, bool all_users);

// The recorded key whose path is `path`, ignoring case; null when none.
const InstallLog::RegistryKey* FindRecordedKey(const std::vector<InstallLog::RegistryKey>& keys,
                                               const std::string& path);

// `install_folder` \ `subfolder` \ the product executable.
base::FilePath GetProductExecutablePath(const base::FilePath& install_folder,
                                        const std::wstring& subfolder);

class SetupProtocolHandlersStep : public ContextStep {
 public:
  using ContextStep::ContextStep;
  StepResult Run(int32_t attempt) override;
};

class RegisterProtocolHandlerStep : public ContextStep {
 public:
  // `machine_root` stands for HKEY_LOCAL_MACHINE, the hive of the recorded client key.
  explicit RegisterProtocolHandlerStep(InstallationContext* context,
                                       HKEY machine_root = HKEY_LOCAL_MACHINE)
      : ContextStep(context), machine_root_(machine_root) {}
  StepResult Run(int32_t attempt) override;

 private:
  HKEY machine_root_;
};

// Whether the finishing step registers the autoupdate task: not for a copy-only
// installation, nor for a per-user one with the permission helper.
bool RegistersAutoupdateTask(InstallationContext* context);

class FinalizeInstallationStep : public ContextStep {
 public:
  using ContextStep::ContextStep;
  StepResult Run(int32_t attempt) override;

 private:
  base::Result<> RegisterAutoupdateTask();
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_FINALIZE_INSTALLATION_STEPS_H_
