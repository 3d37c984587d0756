// The system services the finishing steps of an installation and an uninstallation
// reach: the task scheduler, the firewall, signature verification of component
// installers and process creation through WMI. Tests replace them, since Wine lacks
// most of them and the real ones change the machine.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_SYSTEM_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_SYSTEM_H_

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/result.h"
#include "desktop/windows/installer/service/task_scheduler.h"

namespace installer {

struct InstallerSystem {
  // The running system's.
  static InstallerSystem Current();

  // Null when no scheduler can be made for this Windows.
  std::function<std::unique_ptr<TaskScheduler>()> create_task_scheduler;
  // Connects to the scheduler's service and lets go, run ahead on a thread of its own so
  // that a service started on demand is up when a step connects; null: nothing to do.
  std::function<void()> connect_task_service;
  // Adds (remove false) or removes the browser's firewall rules of `executable`.
  std::function<base::Result<>(const base::FilePath& executable, bool remove)> firewall_rules;
  std::function<bool()> is_user_admin;
  // Succeeds when the file carries a valid signature of the product's expected signer.
  std::function<base::Result<>(const base::FilePath& file)> verify_signature;
  // Starts the command line outside this process tree; gives its process id.
  std::function<base::Result<uint32_t>(const std::wstring& command_line)> launch_detached;
  // Starts the uninstallation's clean-up batch file, not waited for.
  std::function<base::Result<>(const base::FilePath& batch_file)> start_cleanup_batch;
};

// The running system's services, made once.
const InstallerSystem& RunningInstallerSystem();

// The task scheduler's view of this product and user, for the installer's tasks.
class InstallerTaskSchedulerEnvironment : public TaskSchedulerEnvironment {
 public:
  std::string GetBuildProductName() override;
  int GetScheduledAutoupdateDelayMin() override;
  [[nodiscard]] bool GetSamCompatibleUserName(std::wstring* name) override;
  bool IsUserAdmin() override;
};

// Creates or removes the firewall rules of the product's rule group for `executable`; a
// failure is only logged, since the browser works without them.
void CreateFirewallRules(const InstallerSystem& system, const base::FilePath& executable,
                         bool remove);

// Deletes the product's orphaned tasks and the autoupdate task of `app_id` (UTF-8).
base::Result<> DeleteAutoupdateTask(const InstallerSystem& system, const std::string& app_id);

// "Autoupdate " + the app id.
std::wstring GetAutoupdateTaskBaseName(const std::string& app_id);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_SYSTEM_H_
