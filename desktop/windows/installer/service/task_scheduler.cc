#include "desktop/windows/installer/service/task_scheduler.h"

#include "base/strings/utf_string_conversions.h"
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

namespace {

const wchar_t kProductTaskMarker[] = L" scheduled ";

}  // namespace

std::wstring BuildTaskName(const std::string& product_name, const std::wstring& name) {
  return base::ASCIIToWide(product_name) + kProductTaskMarker + name;
}

bool IsProductTaskName(const std::wstring& full_name) {
  std::wstring lower = full_name;
  for (wchar_t& c : lower)
    if (c >= L'A' && c <= L'Z') c = c - L'A' + L'a';
  return lower.find(kProductTaskMarker) != std::wstring::npos;
}

std::unique_ptr<TaskScheduler> CreateTaskScheduler(TaskSchedulerEnvironment* environment) {
  if (base::GetWindowsVersion() < base::OS_VERSION_VISTA)
    return std::unique_ptr<TaskScheduler>(new TaskSchedulerV1(environment));
  return std::unique_ptr<TaskScheduler>(new TaskSchedulerV2(environment));
}

}  // namespace installer
