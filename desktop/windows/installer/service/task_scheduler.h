// The installer's scheduled tasks (the browser's autoupdate task, and commands run once
// through the scheduler) over the Windows Task Scheduler.
//
//   std::unique_ptr<TaskScheduler> scheduler = CreateTaskScheduler(&environment);
//   ScheduledTaskInfo task(launcher_command);
//   task.name = autoupdate_task_name;
//   task.schedule = ScheduledTaskInfo::kDaily;
//   if (scheduler && scheduler->Init() && scheduler->RegisterTask(task)) ...
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/time/time.h"

namespace installer {

struct ScheduledTaskInfo {
  enum Schedule : uint32_t {
    kRunOnceNow = 0,
    kDaily = 1,
    kNoTimeTrigger = 2,  // as any other value
  };

  // Machine-wide, time limit, logon trigger and network-only start cleared; the caller
  // sets the schedule (until then none, so a forgotten one never runs the command).
  explicit ScheduledTaskInfo(const base::CommandLine& command);

  // The program the task runs and its arguments.
  base::CommandLine command;
  // The task's base name; the full name adds the product (BuildTaskName).
  std::wstring name;
  std::wstring description;
  // Set for an all-users installation.
  uint32_t machine_wide;
  // Seconds; 0 is no limit.
  uint32_t time_limit;
  uint32_t schedule;
  // Adds a logon trigger (a boot trigger for a machine-wide task).
  bool logon_trigger;
  // Runs only when a network is available.
  bool network_only;
};

enum TaskState {
  TASK_STATE_CANNOT_OPEN = 0,
  TASK_STATE_IS_DISABLED = 1,
  TASK_STATE_INDETERMINATE = 2,
  TASK_STATE_IS_READY = 3,  // queued, or not run yet
  TASK_STATE_IS_RUNNING = 4,
  TASK_STATE_NO_MORE_RUNS = 5,  // Task Scheduler 1.0 only
};

// What the tasks take from the product configuration and the user's account; the
// installation engine supplies it.
class TaskSchedulerEnvironment {
 public:
  virtual ~TaskSchedulerEnvironment() = default;
  // The product name of the configuration (UTF-8).
  virtual std::string GetBuildProductName() = 0;
  // The delay of the logon or boot trigger, in minutes.
  virtual int GetScheduledAutoupdateDelayMin() = 0;
  // The current user as "domain\user"; false when it cannot be read.
  virtual bool GetSamCompatibleUserName(std::wstring* name) = 0;
  // Whether this process runs as an administrator (the linked token not considered).
  virtual bool IsUserAdmin() = 0;
};

// Every name argument is a task's base name.
class TaskScheduler {
 public:
  virtual ~TaskScheduler() = default;

  // Creates the scheduler service and connects; needed before any other call.
  virtual bool Init() = 0;
  // Creates or replaces the task.
  virtual bool RegisterTask(const ScheduledTaskInfo& info) = 0;
  // Deletes enabled product tasks whose executable no longer exists.
  virtual void DeleteOrphanedTasks() = 0;
  virtual void DeleteTask(const std::wstring& name) = 0;
  // Sets the day interval of the daily trigger when it differs; false when the task or
  // its daily trigger cannot be read or the change cannot be saved.
  [[nodiscard]] virtual bool SetDailyInterval(const std::wstring& name, int days) = 0;
  virtual void SetTaskEnabled(const std::wstring& name, bool enabled) = 0;
  // Starts the task now.
  virtual bool RunTask(const std::wstring& name, const std::vector<std::wstring>& arguments) = 0;
  virtual TaskState GetTaskState(const std::wstring& name) = 0;
  // The most recent run, or the null time.
  virtual base::Time GetLastRunTime(const std::wstring& name) = 0;
};

// The product name widened byte by byte (ASCII), " scheduled ", then the base name.
std::wstring BuildTaskName(const std::string& product_name, const std::wstring& name);

// Whether a task's full name holds " scheduled " (ASCII case ignored), as every product
// task's does.
bool IsProductTaskName(const std::wstring& full_name);

// Task Scheduler 2.0 from Vista on, 1.0 before. `environment` must outlive the scheduler.
std::unique_ptr<TaskScheduler> CreateTaskScheduler(TaskSchedulerEnvironment* environment);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_H_
