#include "desktop/windows/installer/service/task_scheduler.h"

#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/task_scheduler_v1.h"
#include "desktop/windows/installer/service/task_scheduler_v2.h"

namespace installer {

ScheduledTaskInfo::ScheduledTaskInfo(const base::CommandLine& command)
    : command(command),
      machine_wide(0),
      time_limit(0),
      schedule(kNoTimeTrigger),
      logon_trigger(false),
      network_only(false) {}

std::wstring BuildTaskName(const std::string& product_name, const std::wstring& name) {
  std::wstring full_name;
  for (char c : product_name) full_name.push_back(static_cast<unsigned char>(c));
  return full_name + L" scheduled " + name;
}

std::unique_ptr<TaskScheduler> CreateTaskScheduler(TaskSchedulerEnvironment* environment) {
  if (base::GetWindowsVersion() < base::OS_VERSION_VISTA)
    return std::unique_ptr<TaskScheduler>(new TaskSchedulerV1(environment));
  return std::unique_ptr<TaskScheduler>(new TaskSchedulerV2(environment));
}

}  // namespace installer
