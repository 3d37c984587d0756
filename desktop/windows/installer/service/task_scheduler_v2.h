// The scheduled tasks through Task Scheduler 2.0 (Vista and later), in its root folder.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V2_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V2_H_

#include <windows.h>

#include <taskschd.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "base/time/time.h"
#include "desktop/windows/installer/service/com_object_factory.h"
#include "desktop/windows/installer/service/task_scheduler.h"

namespace installer {

class TaskSchedulerV2 : public TaskScheduler {
 public:
  typedef base::Time (*Clock)();

  // `environment` must outlive the scheduler; `factory` and `now` are replaced in tests.
  explicit TaskSchedulerV2(TaskSchedulerEnvironment* environment,
                           const ComObjectFactory& factory = CreateSystemComObject,
                           Clock now = base::Time::Now);
  ~TaskSchedulerV2() override;
  TaskSchedulerV2(const TaskSchedulerV2&) = delete;
  TaskSchedulerV2& operator=(const TaskSchedulerV2&) = delete;

  bool Init() override;
  bool RegisterTask(const ScheduledTaskInfo& info) override;
  void DeleteOrphanedTasks() override;
  void DeleteTask(const std::wstring& name) override;
  [[nodiscard]] bool SetDailyInterval(const std::wstring& name, int days) override;
  void SetTaskEnabled(const std::wstring& name, bool enabled) override;
  bool RunTask(const std::wstring& name, const std::vector<std::wstring>& arguments) override;
  TaskState GetTaskState(const std::wstring& name) override;
  base::Time GetLastRunTime(const std::wstring& name) override;

 private:
  std::wstring FullName(const std::wstring& name);
  Microsoft::WRL::ComPtr<IRegisteredTask> OpenTask(const std::wstring& name);
  // Fills a new task definition: author and description, settings, triggers and action.
  bool BuildDefinition(const ScheduledTaskInfo& info, const std::wstring& user,
                       ITaskDefinition* definition);
  bool AddTriggers(const ScheduledTaskInfo& info, const std::wstring& user,
                   const std::wstring& boundary, ITaskDefinition* definition);

  TaskSchedulerEnvironment* environment_;
  ComObjectFactory factory_;
  Clock now_;
  Microsoft::WRL::ComPtr<ITaskService> service_;
  Microsoft::WRL::ComPtr<ITaskFolder> root_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V2_H_
