#include "desktop/windows/installer/steps/installer_system_test_util.h"

#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace installer {
namespace testing {

namespace {

class FakeTaskScheduler : public TaskScheduler {
 public:
  explicit FakeTaskScheduler(SchedulerRecord* record) : record_(record) {}
  [[nodiscard]] bool Init() override {
    record_->calls.push_back("init");
    return record_->init_succeeds;
  }
  [[nodiscard]] bool RegisterTask(const ScheduledTaskInfo& info) override {
    record_->calls.push_back("register " + base::WideToUTF8(info.name));
    record_->registered.push_back(info);
    return record_->register_succeeds;
  }
  void DeleteOrphanedTasks() override { record_->calls.push_back("orphans"); }
  void DeleteTask(const std::wstring& name) override {
    record_->calls.push_back("delete " + base::WideToUTF8(name));
  }
  [[nodiscard]] bool SetDailyInterval(const std::wstring& name, int days) override {
    record_->calls.push_back("interval " + base::WideToUTF8(name) + " " + std::to_string(days));
    return record_->interval_succeeds;
  }
  void SetTaskEnabled(const std::wstring&, bool) override {}
  [[nodiscard]] bool RunTask(const std::wstring&, const std::vector<std::wstring>&) override {
    return false;
  }
  TaskState GetTaskState(const std::wstring&) override { return TASK_STATE_CANNOT_OPEN; }
  base::Time GetLastRunTime(const std::wstring&) override { return base::Time(); }

 private:
  SchedulerRecord* record_;
};

}  // namespace

FakeInstallerSystem::FakeInstallerSystem() {
  system.create_task_scheduler = [this]() -> std::unique_ptr<TaskScheduler> {
    if (!has_scheduler) return nullptr;
    return std::make_unique<FakeTaskScheduler>(&scheduler);
  };
  system.firewall_rules = [this](const base::FilePath& executable,
                                 bool remove) -> base::Result<> {
    firewall_calls.emplace_back(executable, remove);
    return {};
  };
  system.is_user_admin = [this] { return admin; };
  system.verify_signature = [this](const base::FilePath& file) -> base::Result<> {
    if (signed_files.count(base::ToLowerASCII(base::WideToUTF8(file.value()))) != 0) return {};
    return base::Failure{0, 0, "not signed", file};
  };
  system.launch_detached = [this](const std::wstring& command_line) -> base::Result<uint32_t> {
    detached_launches.push_back(command_line);
    return 1u;
  };
  system.start_cleanup_batch = [this](const base::FilePath& batch_file) -> base::Result<> {
    started_batches.push_back(batch_file);
    return {};
  };
}


}  // namespace testing
}  // namespace installer
