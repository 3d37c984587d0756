#include "desktop/windows/installer/silent_installer_controller.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/json/json_reader.h"
#include "base/message_loop/message_loop.h"
#include "base/test/test_helper_process.h"
#include "desktop/windows/installer/installation_test_util.h"
#include "desktop/windows/installer/service/transactions/system_snapshot_test_util.h"
#include "desktop/windows/installer/service/utils.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/test_package_test_util.h"
#include "gtest/gtest.h"
#include "testing/update_server/update_server_test_util.h"

namespace installer {
namespace {

// A silent front end in this process, running from an unpacked copy of test_pkg whose
// "installer.exe" is the backend helper; statistics go to a local update server.
class SilentInstallerControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    ASSERT_FALSE(temp_.path().empty());
    ASSERT_FALSE(package_scratch_.path().empty());
    install_folder_ = scratch_.path().Append(L"Velum");
    system_.own_folder = package_scratch_.path().Append(L"package");
    system_.needs_elevation = [](bool, bool) { return false; };
    system_.before_windows_7 = [] { return false; };
    system_.has_sse2 = [] { return true; };
    ASSERT_TRUE(testing::CopyTestPackage(L"test_pkg", system_.own_folder));
    ASSERT_TRUE(base::CopyFile(
        base::FilePath(base::TestExeSibling(L"installer_runner_backend_test_helper.exe")),
        system_.own_folder.Append(L"installer.exe")));
    ASSERT_TRUE(user_hive_.active());
    ASSERT_TRUE(hive_variable_.set());
    ASSERT_TRUE(tmp_.set());
    ASSERT_TRUE(temp_variable_.set());
    ASSERT_TRUE(server_.Start()) << server_.error();
  }

  std::string Snapshot() {
    return testing::SnapshotFileTree(scratch_.path()) +
           testing::SnapshotRegistryTree(HKEY_CURRENT_USER, GetCompanyRegistryKeyPath(), 0);
  }

  // Runs a controller on `settings`; the posted statistics land in `posts`.
  bool RunController(Settings* settings) {
    SilentInstallerController controller(system_);
    controller.stats_for_testing()->SetServerUrlForTesting(
        L"http://localhost:" + std::to_wstring(server_.port()) + L"/");
    controller.SetTerminateDelayForTesting(base::TimeDelta());
    controller.SetOverridesFeatureForTesting(false);
    return controller.Run(settings, nullptr, temp_.path());
  }

  // The one record posted to the server, or null when none or several were.
  std::unique_ptr<base::Dictionary> PostedRecord() {
    std::vector<testing::RecordedRequest> posts = server_.RequestsTo("/netinstaller/feedback");
    if (posts.size() != 1) return nullptr;
    std::unique_ptr<base::Value> value = base::JsonReader::Read(posts[0].body);
    base::Dictionary* dictionary = nullptr;
    if (!value || !value->GetAsDictionary(&dictionary)) return nullptr;
    value.release();
    return std::unique_ptr<base::Dictionary>(dictionary);
  }

  base::MessageLoop loop_;
  base::ScratchDir scratch_;
  base::ScratchDir temp_;
  base::ScratchDir package_scratch_;
  base::FilePath install_folder_;
  testing::PrivateUserHive user_hive_;
  testing::UpdateServer server_;
  SilentInstallerController::System system_;
  testing::ScopedEnvironmentVariable hive_variable_{L"VELUM_TEST_USER_HIVE", user_hive_.path()};
  testing::ScopedEnvironmentVariable tmp_{L"TMP", temp_.path().value()};
  testing::ScopedEnvironmentVariable temp_variable_{L"TEMP", temp_.path().value()};
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
