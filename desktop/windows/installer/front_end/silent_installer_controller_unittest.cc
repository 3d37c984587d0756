#include "desktop/windows/installer/front_end/silent_installer_controller.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/front_end/front_end_controller_test_util.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/service/product_names.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/settings/settings.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Set when the front end logs that it waits for its backend.
HANDLE g_waiting_for_backend = nullptr;

bool NoteWaitForBackend(int, const char*, int, size_t, const std::string& text) {
  if (text.find("Waiting for the installer backend to end") != std::string::npos)
    SetEvent(g_waiting_for_backend);
  return false;
}

// A silent front end in this process, running from an unpacked copy of test_pkg whose
// "installer.exe" is the backend helper; statistics go to a local update server.
class SilentInstallerControllerTest : public testing::FrontEndControllerTest {
 protected:
  SilentInstallerControllerTest() : FrontEndControllerTest(base::MessageLoop::TYPE_DEFAULT) {}

  void SetUp() override { ASSERT_NO_FATAL_FAILURE(SetUpFrontEnd(&system_)); }

  std::string Snapshot() {
    return testing::SnapshotFileTree(scratch_.path()) +
           testing::SnapshotRegistryTree(HKEY_CURRENT_USER, GetCompanyRegistryKeyPath(), 0);
  }

  // Runs a controller on `settings`; the posted statistics land on the server.
  bool RunController(Settings* settings) {
    SilentInstallerController controller(system_);
    controller.stats_for_testing()->SetServerUrlForTesting(StatsServerUrl());
    controller.SetTerminateDelayForTesting(base::TimeDelta());
    controller.SetOverridesFeatureForTesting(false);
    return controller.Run(settings, nullptr, temp_.path());
  }

  SilentInstallerController::System system_;
};

TEST_F(SilentInstallerControllerTest, InstallsAndPostsTheRecordOnce) {
  testing::TestSettings settings(install_folder_, {});
  EXPECT_TRUE(RunController(settings.get()));
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
  std::unique_ptr<base::Dictionary> record = PostedRecord();
  ASSERT_TRUE(record);
  int success = -1;
  EXPECT_TRUE(record->GetInteger("installation_success", &success));
  EXPECT_EQ(1, success);
}

// Autoupdates report only their failures: one on a folder without an installation fails
// and is reported; one over an installation succeeds and is not.
TEST_F(SilentInstallerControllerTest, AutoupdatesReportOnlyTheirFailures) {
  {
    testing::TestSettings settings(install_folder_, {}, false, /*autoupdate=*/true);
    EXPECT_FALSE(RunController(settings.get()));
    std::unique_ptr<base::Dictionary> record = PostedRecord();
    ASSERT_TRUE(record);
    int success = -1;
    EXPECT_TRUE(record->GetInteger("installation_success", &success));
    EXPECT_EQ(0, success);
  }
  {
    testing::TestSettings settings(install_folder_, {});
    ASSERT_TRUE(RunController(settings.get()));
  }
  ASSERT_EQ(2u, server_.RequestsTo("/netinstaller/feedback").size());
  testing::TestSettings settings(install_folder_, {}, false, /*autoupdate=*/true);
  EXPECT_TRUE(RunController(settings.get()));
  EXPECT_EQ(2u, server_.RequestsTo("/netinstaller/feedback").size());
}

TEST_F(SilentInstallerControllerTest, StatisticsOffSendsNothing) {
  testing::TestSettings settings(install_folder_, {L"--enable-installer-stats=0"});
  EXPECT_TRUE(RunController(settings.get()));
  EXPECT_TRUE(server_.RequestsTo("/netinstaller/feedback").empty());
}

// A machine the browser cannot run on ends the run before anything is written; the
// failed run is reported.
TEST_F(SilentInstallerControllerTest, UnsupportedMachinesEndTheRunUntouched) {
  struct Case {
    const char* name;
    bool before_windows_7;
    bool has_sse2;
  } cases[] = {{"Windows before 7", true, true}, {"no SSE2", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    system_.before_windows_7 = [c] { return c.before_windows_7; };
    system_.has_sse2 = [c] { return c.has_sse2; };
    testing::TestSettings settings(install_folder_, {});
    const std::string before = Snapshot();
    EXPECT_FALSE(RunController(settings.get()));
    EXPECT_EQ(before, Snapshot());
  }
  std::vector<testing::RecordedRequest> posts = server_.RequestsTo("/netinstaller/feedback");
  ASSERT_EQ(2u, posts.size());
  EXPECT_NE(std::string::npos, posts[1].body.find("\"installation_success\":0"));
}

TEST_F(SilentInstallerControllerTest, AnInvalidFolderFailsWithTheReason) {
  testing::TestSettings settings(install_folder_, {}, false, false, /*valid_folder=*/false);
  const std::string before = Snapshot();
  EXPECT_FALSE(RunController(settings.get()));
  EXPECT_EQ(before, Snapshot());
  std::unique_ptr<base::Dictionary> record = PostedRecord();
  ASSERT_TRUE(record);
  std::string reason;
  EXPECT_TRUE(record->GetString("failure_reason", &reason));
  EXPECT_FALSE(reason.empty());
}

// A folder that needs elevation is given up for the user's default folder; there
// elevation is still needed, but the folder is already the default one, so no new
// status comes and the run must go on by itself.
TEST_F(SilentInstallerControllerTest, WithoutElevationTheDefaultFolderIsUsed) {
  system_.needs_elevation = [](bool, bool) { return true; };
  const base::FilePath elsewhere = scratch_.path().Append(L"Elsewhere");
  for (const wchar_t* all_users : {L"--allusers=0", L"--allusers=1"}) {
    SCOPED_TRACE(all_users);
    testing::TestSettings settings(install_folder_, {all_users});
    settings.get()->SetInstallFolder(elsewhere);
    ASSERT_TRUE(settings.get()->fetching_status());
    EXPECT_TRUE(RunController(settings.get()));
    EXPECT_EQ(install_folder_, settings.get()->install_folder());
    EXPECT_EQ(Settings::MODE_CURRENT_USER, settings.get()->mode());
    EXPECT_TRUE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
    EXPECT_FALSE(base::PathExists(elsewhere));
  }
}

// A failed installation rolls back after its error has reached the front end; the run
// ends only once the backend has, so nothing of the attempt is left when it returns.
TEST_F(SilentInstallerControllerTest, TheRunEndsAfterTheBackendRolledBack) {
  // velum.exe cannot be copied: the installation fails mid-way.
  base::ScopedHandle locked(CreateFileW(system_.own_folder.Append(L"velum.exe").value().c_str(),
                                        GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(locked.IsValid());
  // The backend holds its rollback until the front end waits for it, or, when the front
  // end does not wait, until the test has looked at the folder.
  const std::wstring hold_name =
      L"VelumTestHoldRollback" + std::to_wstring(GetCurrentProcessId());
  base::ScopedHandle release(CreateEventW(nullptr, TRUE, FALSE, hold_name.c_str()));
  base::ScopedHandle waiting(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  base::ScopedHandle looked(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(release.IsValid() && waiting.IsValid() && looked.IsValid());
  testing::ScopedEnvironmentVariable hold(L"VELUM_TEST_HOLD_ROLLBACK", hold_name);
  ASSERT_TRUE(hold.set());
  g_waiting_for_backend = waiting.Get();
  base::SetLogMessageHandler(&NoteWaitForBackend);
  HANDLE wake[] = {waiting.Get(), looked.Get()};
  HANDLE release_handle = release.Get();
  std::thread releaser([&wake, release_handle] {
    WaitForMultipleObjects(2, wake, FALSE, INFINITE);
    SetEvent(release_handle);
  });

  testing::TestSettings settings(install_folder_, {});
  const std::string before = Snapshot();
  EXPECT_FALSE(RunController(settings.get()));
  const bool folder_left = base::PathExists(install_folder_);
  SetEvent(looked.Get());
  releaser.join();
  base::SetLogMessageHandler(nullptr);
  g_waiting_for_backend = nullptr;
  EXPECT_FALSE(folder_left);
  EXPECT_EQ("", testing::SnapshotDifference(before, Snapshot()));
}

// The error lines of the front end: what its console shows.
std::vector<std::string>* g_error_lines = nullptr;

bool KeepErrorLine(int severity, const char*, int, size_t start, const std::string& text) {
  if (severity >= base::LOG_ERROR && g_error_lines) g_error_lines->push_back(text.substr(start));
  return false;
}

// A backend that does not end with 0 fails the run, even after its success was told (a
// backend ended from outside once the installation had succeeded): the record says so
// and the console says why.
TEST_F(SilentInstallerControllerTest, ABackendEndingWithoutZeroFailsTheRunAfterItsSuccess) {
  testing::ScopedEnvironmentVariable exit_code(L"VELUM_TEST_BACKEND_EXIT_CODE", L"1");
  ASSERT_TRUE(exit_code.set());
  std::vector<std::string> errors;
  g_error_lines = &errors;
  base::SetLogMessageHandler(&KeepErrorLine);
  testing::TestSettings settings(install_folder_, {});
  const bool result = RunController(settings.get());
  base::SetLogMessageHandler(nullptr);
  g_error_lines = nullptr;
  EXPECT_FALSE(result);
  EXPECT_TRUE(base::PathExists(install_folder_.Append(L"installation_status.xml")));
  std::unique_ptr<base::Dictionary> record = PostedRecord();
  ASSERT_TRUE(record);
  int success = -1;
  EXPECT_TRUE(record->GetInteger("installation_success", &success));
  EXPECT_EQ(0, success);
  EXPECT_NE(errors.end(),
            std::find(errors.begin(), errors.end(),
                      "Installer backend ended with exit code 1 after a success was reported\n"))
      << ::testing::PrintToString(errors);
}

// A backend that reported success but does not end holds the run only to the bound: the
// run ends with the success it reported.
TEST_F(SilentInstallerControllerTest, ABackendThatNeverEndsAfterItsSuccessEndsTheRunAtTheBound) {
  const std::wstring name = L"Local\\velum-test-hold-end-" + std::to_wstring(GetCurrentProcessId());
  base::ScopedHandle end(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  ASSERT_TRUE(end.IsValid());
  testing::ScopedEnvironmentVariable hold(L"VELUM_TEST_HOLD_END", name.c_str());
  ASSERT_TRUE(hold.set());
  // Its end, were it waited for, would fail the run.
  testing::ScopedEnvironmentVariable exit_code(L"VELUM_TEST_BACKEND_EXIT_CODE", L"1");
  ASSERT_TRUE(exit_code.set());
  testing::TestSettings settings(install_folder_, {});
  bool result = false;
  {
    SilentInstallerController controller(system_);
    controller.stats_for_testing()->SetServerUrlForTesting(StatsServerUrl());
    controller.SetTerminateDelayForTesting(base::TimeDelta());
    controller.SetBackendEndBoundForTesting(base::TimeDelta::FromMilliseconds(500));
    controller.SetOverridesFeatureForTesting(false);
    result = controller.Run(settings.get(), nullptr, temp_.path());
    // Let the held backend go before the runner waits for its end.
    SetEvent(end.Get());
  }
  EXPECT_TRUE(result);
  std::unique_ptr<base::Dictionary> record = PostedRecord();
  ASSERT_TRUE(record);
  int success = -1;
  EXPECT_TRUE(record->GetInteger("installation_success", &success));
  EXPECT_EQ(1, success);
}

TEST(SilentInstallerControllerFolderTest, ListsEveryEntryWithTheFolderOfFiles) {
  base::ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  ASSERT_TRUE(base::CreateDirectory(scratch.path().Append(L"Application")));
  ASSERT_TRUE(base::WriteFile(scratch.path().Append(L"Application").Append(L"velum.exe"), "x", 1) == 1);
  const std::string text = SilentInstallerController::ListFolderContents(scratch.path());
  EXPECT_EQ("Application\nApplication\\velum.exe\n", text);
}

}  // namespace
}  // namespace installer
