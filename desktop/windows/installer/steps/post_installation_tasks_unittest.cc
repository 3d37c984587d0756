#include "desktop/windows/installer/steps/post_installation_tasks.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/test/log_capture_test_util.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/steps/finalize_installation_steps.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/steps/os_operations.h"
#include "desktop/windows/installer/program_log_test_util.h"

namespace installer {
namespace testing {
namespace {

// Notes each default-browser set-up: whether a record was given. Reports a failure,
// which the installation logs and goes on from.
class RecordingOsOperations : public OsOperations {
 public:
  explicit RecordingOsOperations(std::vector<std::string>* calls) : calls_(calls) {}
  base::Result<> SetUpDefaultBrowser(const Settings&, const InstallLog* record) override {
    calls_->push_back(record ? "with record " + record->app_id : "without record");
    return base::Failure{0, 0, "could not set the default browser for the current user", {}};
  }

 private:
  std::vector<std::string>* calls_;
};

void WriteText(const base::FilePath& path, const std::string& text) {
  ASSERT_EQ(static_cast<int>(text.size()),
            base::WriteFile(path, text.data(), static_cast<int>(text.size())))
      << path.value();
}

class PostInstallationTasksTest : public ProgramLogTest {
 protected:
  void SetUp() override {
    ProgramLogTest::SetUp();
    if (HasFatalFailure()) return;
    UsePackage(CopyPackage());
  }

  InstallationRun Request(std::vector<std::wstring> switches) {
    InstallationRun run;
    run.switches = std::move(switches);
    run.prepare = [this](Installer* installer) {
      installer->SetOsOperations(std::make_unique<RecordingOsOperations>(&os_calls_));
    };
    return run;
  }

  // Runs `run` as an installation that also installs the "suite" component and puts
  // `installer_name` in the component's folder (`suite`), as the component's own
  // installation would; then forgets the switches and the program lines of the run.
  void RunWithSuiteComponent(InstallationRun* run, const wchar_t* installer_name,
                             base::FilePath* suite) {
    system_services_.signed_files.insert(base::ToLowerASCII(base::WideToUTF8(
        CopyPackage(L"components").Append(L"suite_installer.exe").value())));
    AddProcessSwitch("components", L"suite:components");
    Run(run);
    ASSERT_TRUE(run->succeeded);
    *suite = install_folder_.Append(L"suite");
    ASSERT_TRUE(base::CreateDirectory(*suite));
    ASSERT_TRUE(base::CopyFile(scratch_.path().Append(L"package\\components\\suite_installer.exe"),
                               suite->Append(installer_name)));
    ClearProcessSwitches();
    EXPECT_TRUE(base::DeleteFile(program_log_, false));
  }

  std::vector<std::string> os_calls_;
};

TEST_F(PostInstallationTasksTest, AnInstallationSetsUpTheBrowserWithItsRecord) {
  InstallationRun run = Request({L"--launchvelum=0"});
  Run(&run);
  ASSERT_TRUE(run.succeeded);
  std::unique_ptr<InstallLog> record =
      ReadRecord(install_folder_.Append(L"installation_status.xml"));
  ASSERT_TRUE(record);
  EXPECT_EQ(std::vector<std::string>{"with record " + record->app_id}, os_calls_);
}

// After an elevated installation the user's own process sets up the browser, starts the
// components' post-elevation work and launches the browser.
TEST_F(PostInstallationTasksTest, PostElevationTasksRunAsTheUser) {
  // The component put only the assistant's installer there. The run is an upgrade of
  // what the elevated copy installed: the browser does not start maximized.
  InstallationRun install = Request({L"--launchvelum=0"});
  base::FilePath suite;
  ASSERT_NO_FATAL_FAILURE(RunWithSuiteComponent(&install, L"assistant_installer.exe", &suite));
  os_calls_.clear();
  AddProcessSwitch("post-elevated-install-tasks");
  InstallationRun post = Request({L"--launchvelum=1"});
  Run(&post);
  ASSERT_TRUE(post.succeeded);
  EXPECT_EQ(std::vector<std::string>{"without record"}, os_calls_);
  std::vector<std::string> lines = WaitForProgramLines(2);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ((std::vector<std::string>{
                "assistant_installer.exe --post-elevated-install-tasks --installfolder=" +
                    base::WideToUTF8(suite.value()),
                "launcher.exe"}),
            lines);
}

// The in-process road: this run's request was read before the elevated copy upgraded the
// installation; the user's part that follows works with what that copy installed.
TEST_F(PostInstallationTasksTest, AfterAnElevatedUpgradeTheNewInstallationCounts) {
  InstallationRun first = Request({L"--launchvelum=0", L"--singleprofile=1"});
  Run(&first);
  ASSERT_TRUE(first.succeeded);
  const base::FilePath profile = install_folder_.Append(L"profile\\data");
  ASSERT_TRUE(base::CreateDirectory(profile));
  WriteText(profile.Append(L"Local State"), "{}");
  const char* const kPartnerFiles[] = {"custom_partner_content.json", "tracking_user_agent.json"};
  for (const char* name : kPartnerFiles) {
    const std::wstring file = base::UTF8ToWide(name);
    WriteText(profile.Append(file), "{\"profile\":1}");
    WriteText(package_.Append(L"resources").Append(file), "{\"package\":2}");
    const std::string line = std::string("resources\\") + name + "\r\n";
    ASSERT_TRUE(base::AppendToFile(package_.Append(L"files_list"), line.data(),
                                   static_cast<int>(line.size())));
  }
  TestSettings request(install_folder_, {L"--launchvelum=0", L"--singleprofile=1"});
  ASSERT_EQ(Settings::OPERATION_UPGRADE, request.get()->operation());

  // The elevated copy: the upgrade, which also installs a component.
  InstallationRun elevated = Request({L"--launchvelum=0"});
  elevated.version = kV2;
  base::FilePath suite;
  ASSERT_NO_FATAL_FAILURE(RunWithSuiteComponent(&elevated, L"suite_installer.exe", &suite));

  FakeInstallationContext context;
  context.settings = request.get();
  context.install_folder = install_folder_;
  context.system = &system_services_.system;
  RunPostElevationTasks(&context);
  for (const char* name : kPartnerFiles) {
    std::string text;
    EXPECT_TRUE(base::ReadFileToString(profile.Append(base::UTF8ToWide(name)), &text)) << name;
  }
  EXPECT_EQ(std::vector<std::string>{"suite_installer.exe --post-elevated-install-tasks "
                                     "--installfolder=" +
                                     base::WideToUTF8(suite.value())},
            WaitForProgramLines(1));
}

// Wine's Task Scheduler 2.0 lacks what the autoupdate task needs: the real call fails
// and says so, and nothing is left registered.
TEST_F(PostInstallationTasksTest, TheSystemSchedulerUnderWine) {
  InstallerSystem real = InstallerSystem::Current();
  InstallerSystem system = system_services_.system;
  system.create_task_scheduler = real.create_task_scheduler;
  TestSettings settings(install_folder_, {});
  FakeInstallationContext context;
  context.system = &system;
  context.settings = settings.get();
  context.install_folder = install_folder_;
  context.install_log.app_id = "1700000001";
  StepResult result;
  bool reported = false;
  {
    base::ScopedLogCapture log;
    FinalizeInstallationStep step(&context);
    result = step.Run(0);
    reported = log.Has("Could not create scheduled task");
  }
  // Clean-up only: whether anything was left to delete is not what this test checks.
  static_cast<void>(DeleteAutoupdateTask(system, "1700000001"));
  EXPECT_EQ(static_cast<uint32_t>(StepResult::STATUS_OK), result.status);
  EXPECT_TRUE(reported);
}

}  // namespace
}  // namespace testing
}  // namespace installer
