#include "desktop/windows/installer/steps/installer_system.h"

#include <windows.h>
#define SECURITY_WIN32
#include <security.h>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/elevated_helper/cleanup_batch.h"
#include "desktop/windows/installer/verification/authenticode.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/service/firewall_manager.h"
#include "desktop/windows/installer/service/firewall_rule_group_provider.h"
#include "desktop/windows/installer/steps/wmi_process_launch.h"

namespace installer {

namespace {

// One environment for the process: schedulers keep a pointer to it.
TaskSchedulerEnvironment* GetTaskSchedulerEnvironment() {
  static InstallerTaskSchedulerEnvironment* const environment =
      new InstallerTaskSchedulerEnvironment();
  return environment;
}

}  // namespace

InstallerSystem InstallerSystem::Current() {
  InstallerSystem system;
  system.create_task_scheduler = [] { return CreateTaskScheduler(GetTaskSchedulerEnvironment()); };
  system.connect_task_service = [] {
    // A failure shows again, and is logged, when the step connects.
    std::unique_ptr<TaskScheduler> scheduler = CreateTaskScheduler(GetTaskSchedulerEnvironment());
    if (scheduler && !scheduler->Init()) VLOG(1) << "Task scheduler not connected ahead";
  };
  system.firewall_rules = [](const base::FilePath& executable, bool remove) -> base::Result<> {
    std::unique_ptr<FirewallManager> manager =
        FirewallManager::Create(FirewallRuleGroupProvider::GetInstance(), executable);
    if (!manager) return base::Failure{0, 0, "Failed creating a FirewallManager.", executable};
    if (remove) {
      manager->RemoveRules();
    } else if (!manager->AddMdnsInboundRule()) {
      return base::Failure{0, 0, "Failed creating a firewall rules.", executable};
    }
    return {};
  };
  system.is_user_admin = [] { return IsUserAdmin(false); };
  system.verify_signature = [](const base::FilePath& file) -> base::Result<> {
    std::string error;
    if (VerifyFileSignature(file, &error)) return {};
    return base::Failure{0, 0, error, file};
  };
  system.launch_detached = &LaunchProcessViaWmi;
  system.start_cleanup_batch = [](const base::FilePath& batch_file) -> base::Result<> {
    if (StartCleanupBatch(batch_file).IsValid()) return {};
    return base::Failure{GetLastError(), 0, "cmd did not start", batch_file};
  };
  return system;
}

const InstallerSystem& RunningInstallerSystem() {
  static const InstallerSystem* const current = new InstallerSystem(InstallerSystem::Current());
  return *current;
}

std::string InstallerTaskSchedulerEnvironment::GetBuildProductName() {
  return installer::GetBuildProductName();
}

int InstallerTaskSchedulerEnvironment::GetScheduledAutoupdateDelayMin() {
  return installer::GetScheduledAutoupdateDelayMin();
}

bool InstallerTaskSchedulerEnvironment::GetSamCompatibleUserName(std::wstring* name) {
  return GetUserNameInFormat(name, NameSamCompatible);
}

bool InstallerTaskSchedulerEnvironment::IsUserAdmin() { return installer::IsUserAdmin(false); }

void CreateFirewallRules(const InstallerSystem& system, const base::FilePath& executable,
                         bool remove) {
  const base::Result<> changed = system.firewall_rules(executable, remove);
  if (!changed.ok()) LOG(ERROR) << changed.failure().text;
}

std::wstring GetAutoupdateTaskBaseName(const std::string& app_id) {
  return L"Autoupdate " + base::UTF8ToWide(app_id);
}

base::Result<> DeleteAutoupdateTask(const InstallerSystem& system, const std::string& app_id) {
  std::unique_ptr<TaskScheduler> scheduler = system.create_task_scheduler();
  if (!scheduler) return base::Failure{0, 0, "no task scheduler for this Windows", {}};
  if (!scheduler->Init()) return base::Failure{0, 0, "the task scheduler could not be reached", {}};
  scheduler->DeleteOrphanedTasks();
  scheduler->DeleteTask(GetAutoupdateTaskBaseName(app_id));
  return {};
}

}  // namespace installer
