// A recording stand-in for the installer's system services: a task scheduler that keeps
// what it was asked, firewall calls, accepted signatures and the detached launches, so
// that engine tests never touch the machine's tasks, firewall or browsers.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_SYSTEM_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_SYSTEM_TEST_UTIL_H_

#include <stdint.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/steps/installer_system.h"
#include "desktop/windows/installer/service/task_scheduler.h"

namespace installer {
namespace testing {

// What the fake schedulers were asked, in order, as text lines ("init", "orphans",
// "register <name>", "delete <name>", "interval <name> <days>").
struct SchedulerRecord {
  bool init_succeeds = true;
  bool register_succeeds = true;
  bool interval_succeeds = true;
  std::vector<std::string> calls;
  std::vector<ScheduledTaskInfo> registered;
};

class FakeInstallerSystem {
 public:
  // Its `system` is given to the installer or context under test, which it outlives.
  FakeInstallerSystem();
  FakeInstallerSystem(const FakeInstallerSystem&) = delete;
  FakeInstallerSystem& operator=(const FakeInstallerSystem&) = delete;

  InstallerSystem system;
  SchedulerRecord scheduler;
  // Whether a scheduler can be made at all.
  bool has_scheduler = true;
  bool admin = false;
  std::vector<std::pair<base::FilePath, bool>> firewall_calls;
  // Files that pass signature verification: their UTF-8 paths in lower case.
  std::set<std::string> signed_files;
  std::vector<std::wstring> detached_launches;
  std::vector<base::FilePath> started_batches;
};

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_SYSTEM_TEST_UTIL_H_
