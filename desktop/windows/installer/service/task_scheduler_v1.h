// The scheduled tasks through Task Scheduler 1.0 (work items), for systems before Vista.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V1_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V1_H_

#include <windows.h>

#include <mstask.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

#include "base/time/time.h"
#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/service/com_object_factory.h"
#include "desktop/windows/installer/service/task_scheduler.h"

namespace installer {

typedef base::ScopedLocalAlloc<ACL> ScopedLocalAcl;

// `acl` (may be null) merged with an entry letting authenticated users (S-1-5-11) read
// and execute; null on failure.
[[nodiscard]] ScopedLocalAcl GrantAuthenticatedUsersReadExecute(PACL acl);

class TaskSchedulerV1 : public TaskScheduler {
 public:
  // `environment` must outlive the scheduler; `factory` is replaced in tests.
  explicit TaskSchedulerV1(TaskSchedulerEnvironment* environment,
                           const ComObjectFactory& factory = CreateSystemComObject);
  ~TaskSchedulerV1() override;
  TaskSchedulerV1(const TaskSchedulerV1&) = delete;
  TaskSchedulerV1& operator=(const TaskSchedulerV1&) = delete;

  [[nodiscard]] bool Init() override;
  [[nodiscard]] bool RegisterTask(const ScheduledTaskInfo& info) override;
  void DeleteOrphanedTasks() override;
  void DeleteTask(const std::wstring& name) override;
  [[nodiscard]] bool SetDailyInterval(const std::wstring& name, int days) override;
  void SetTaskEnabled(const std::wstring& name, bool enabled) override;
  [[nodiscard]] bool RunTask(const std::wstring& name, const std::vector<std::wstring>& arguments) override;
  TaskState GetTaskState(const std::wstring& name) override;
  base::Time GetLastRunTime(const std::wstring& name) override;

 private:
  Microsoft::WRL::ComPtr<ITask> OpenTask(const std::wstring& full_name);
  [[nodiscard]] bool AddTrigger(ITask* task, uint32_t schedule, bool at_logon);

  TaskSchedulerEnvironment* environment_;
  ComObjectFactory factory_;
  Microsoft::WRL::ComPtr<ITaskScheduler> scheduler_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V1_H_
