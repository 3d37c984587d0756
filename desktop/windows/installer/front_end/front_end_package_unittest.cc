#include "desktop/windows/installer/front_end/front_end_package.h"

#include <objbase.h>
#include <stdint.h>

#include <string>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/message_loop/message_loop.h"
#include "base/test/scoped_command_line_test_util.h"
#include "base/test/test_helper_process.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "desktop/windows/installer/package_fetcher/fake_fetcher_delegates_test_util.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/install_log_writer.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/statistics/stats_node_test_util.h"
#include "testing/update_server/update_server_test_util.h"

namespace installer {
namespace {

class FrontEndPackageTest : public base::ScratchDirTest {
 protected:
  // Installation records are read through MSXML.
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(base::ScratchDirTest::SetUp());
    com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_TRUE(com_);
  }
  void TearDown() override {
    if (com_) CoUninitialize();
  }

  // A copy of an unsigned test program carrying `payload` after its image, as the
  // build appends it: "VLM", the payload, its size (little-endian).
  base::FilePath Installer(const wchar_t* name, const std::string& payload) {
    std::string image;
    EXPECT_TRUE(base::ReadFileToString(
        base::FilePath(base::TestExeSibling(L"installer_runner_backend_test_helper.exe")),
        &image));
    const uint32_t size = static_cast<uint32_t>(payload.size());
    return Write(name, image + "VLM" + payload +
                           std::string(reinterpret_cast<const char*>(&size), sizeof(size)));
  }

  void Create(FrontEndPackage* package, PayloadReader* payload, Settings* settings,
              StatsNode* stats) {
    package->Create(payload, Path(L"download"), Path(L"own"), *settings, stats, &ui_,
                    &fetcher_delegate_);
  }

  bool com_ = false;
  base::MessageLoop loop_;
  testing::NoWindowUIDelegate ui_;
  testing::RecordingFetcherDelegate fetcher_delegate_;
};

// The payload decides whether a fetcher is made and what the record says of it; a full
// package carries no tracking data of its own.
TEST_F(FrontEndPackageTest, ThePayloadIsRecordedAndFetchedWhenThereIsOne) {
  const struct {
    const char* name;
    std::string payload;  // empty: no payload reader
    std::string json;
    std::string tracking_data;
  } cases[] = {
      {"no payload", "", "{}", ""},
      {"tracking data", "origin=mail",
       "{\"payload_type\":\"tracking_data\",\"tracking_data\":\"origin=mail\"}", "origin=mail"},
      {"full package", std::string("7z\xBC\xAF\x27\x1C", 6) + "archive body",
       "{\"payload_type\":\"full_package\"}", ""},
  };
  testing::TestSettings settings(Path(L"Velum"), {});
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TestStatsRecord stats;
    FrontEndPackage package;
    std::unique_ptr<PayloadReader> payload;
    if (!c.payload.empty()) {
      payload.reset(new PayloadReader(
          Installer((L"installer" + std::to_wstring(index++) + L".exe").c_str(), c.payload)));
    }
    Create(&package, payload.get(), settings.get(), &stats.root);
    EXPECT_EQ(c.json, stats.Json());
    EXPECT_EQ(c.tracking_data, package.tracking_data());
    EXPECT_EQ(payload != nullptr, package.fetcher() != nullptr);
    EXPECT_TRUE(package.runner());
  }
}

// The tracking data recorded for the run is the payload's, else the existing
// installation's; an uninstallation fetches no overrides, even where the feature is on,
// and is done at once.
TEST_F(FrontEndPackageTest, TrackingDataActionsPreferThePayloadAndSkipOverridesForUninstalls) {
  const base::FilePath folder = Path(L"Velum");
  ASSERT_TRUE(base::CreateDirectory(folder));
  ASSERT_TRUE(InstallLogWriter().WriteFile(InstallLog(SOURCE_INSTALLER),
                                           folder.Append(L"installation_status.xml")));
  Write(L"Velum\\server_tracking_data", "origin=installed");
  testing::UpdateServer server;
  ASSERT_TRUE(server.Start()) << server.error();
  base::ScopedCommandLine command_line;
  command_line.Get()->AppendSwitchNative("local-pref-default-overrides-server",
                                         server.Url("/prefs"));
  PayloadReader payload(Installer(L"installer.exe", "origin=mail"));
  const struct {
    const char* name;
    bool with_payload;
    bool uninstall;
    const char* json;
  } cases[] = {
      {"upgrade", false, false, "{\"tracking_data\":\"origin=installed\"}"},
      {"upgrade with a payload", true, false, "{\"tracking_data\":\"origin=mail\"}"},
      {"uninstall", false, true, "{\"tracking_data\":\"origin=installed\"}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TestSettings settings(folder, {}, c.uninstall);
    ASSERT_EQ(c.uninstall ? Settings::OPERATION_UNINSTALL : Settings::OPERATION_UPGRADE,
              settings.get()->operation());
    FrontEndPackage package;
    // On for the uninstall only: its done must come without a request.
    package.SetOverridesFeatureForTesting(c.uninstall);
    testing::TestStatsRecord created;
    Create(&package, c.with_payload ? &payload : nullptr, settings.get(), &created.root);
    testing::TestStatsRecord stats;
    int done = 0;
    package.HandleTrackingData(*settings.get(), &stats.root,
                               base::Bind([](int* done) { ++*done; }, &done));
    EXPECT_EQ(1, done);
    EXPECT_EQ(c.json, stats.Json());
  }
  EXPECT_TRUE(server.Requests().empty());
}

// An uninstallation refused for want of an installation (a killed installation's
// version folder, started from Apps & Features) writes nothing beside its own program and
// asks no server: done at once.
TEST_F(FrontEndPackageTest, ARefusedUninstallationFetchesAndWritesNothing) {
  const base::FilePath folder = Path(L"Velum");
  ASSERT_TRUE(base::CreateDirectory(folder));
  ASSERT_TRUE(base::CreateDirectory(Path(L"own")));
  testing::UpdateServer server;
  ASSERT_TRUE(server.Start()) << server.error();
  base::ScopedCommandLine command_line;
  command_line.Get()->AppendSwitchNative("local-pref-default-overrides-server",
                                         server.Url("/prefs"));
  testing::TestSettings settings(folder, {}, true);
  ASSERT_EQ(Settings::OPERATION_INVALID, settings.get()->operation());
  FrontEndPackage package;
  package.SetOverridesFeatureForTesting(true);
  testing::TestStatsRecord created;
  Create(&package, nullptr, settings.get(), &created.root);
  testing::TestStatsRecord stats;
  int done = 0;
  package.HandleTrackingData(*settings.get(), &stats.root,
                             base::Bind([](int* done) { ++*done; }, &done));
  EXPECT_EQ(1, done);
  EXPECT_FALSE(base::PathExists(Path(L"own\\pref_default_overrides")));
  EXPECT_TRUE(server.Requests().empty());
}

}  // namespace
}  // namespace installer
