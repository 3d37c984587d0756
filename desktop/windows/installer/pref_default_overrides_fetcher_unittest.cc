#include "desktop/windows/installer/pref_default_overrides_fetcher.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/test/run_loop_test_util.h"
#include "base/test/scoped_command_line_test_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/package_fetcher/fake_fetcher_delegates_test_util.h"
#include "testing/update_server/update_server_test_util.h"

namespace installer {
namespace {

const char kSwitch[] = "local-pref-default-overrides-server";

class PrefDefaultOverridesFetcherTest : public base::ScratchDirTest {
 protected:
  // Fetches from |url| (the switch's value) and runs the loop until done.
  void FetchFrom(const std::wstring& url, const std::string& tracking_data) {
    base::CommandLine::ForCurrentProcess()->AppendSwitchNative(kSwitch, url);
    PrefDefaultOverridesFetcher fetcher(Path(L""), &ui_);
    fetcher.SetFeatureEnabledForTesting(true);
    base::RunLoop run_loop;
    fetcher.Fetch(tracking_data, base::Bind(
                                     [](base::RunLoop* loop, int* calls) {
                                       ++*calls;
                                       loop->Quit();
                                     },
                                     &run_loop, &done_calls_));
    EXPECT_TRUE(base::RunUntilQuitOrLimit(&run_loop, base::TimeDelta::FromSeconds(90)))
        << "done never ran";
  }

  base::FilePath Target() { return Path(L"pref_default_overrides"); }

  base::ScopedCommandLine command_line_;
  base::MessageLoop loop_;
  testing::NoWindowUIDelegate ui_;
  int done_calls_ = 0;
};

TEST_F(PrefDefaultOverridesFetcherTest, FeatureOffRunsDoneAtOnceWithoutARequest) {
  testing::UpdateServer server;
  ASSERT_TRUE(server.Start()) << server.error();
  base::CommandLine::ForCurrentProcess()->AppendSwitchNative(kSwitch, server.Url("/prefs"));
  PrefDefaultOverridesFetcher fetcher(Path(L""), &ui_);
  fetcher.SetFeatureEnabledForTesting(false);
  fetcher.Fetch("tracking", base::Bind([](int* calls) { ++*calls; }, &done_calls_));
  EXPECT_EQ(1, done_calls_);
  EXPECT_FALSE(base::PathExists(Target()));
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(PrefDefaultOverridesFetcherTest, TrackingDataIsPostedAndTheFileWritten) {
  testing::UpdateServer server;
  ASSERT_TRUE(server.Start()) << server.error();
  ASSERT_TRUE(server.ServeText("/prefs?x=1", 200, "{\"homepage\": \"about:blank\"}"));
  FetchFrom(server.Url("/prefs?x=1"), "partner=acme");
  EXPECT_EQ(1, done_calls_);
  std::string contents;
  ASSERT_TRUE(base::ReadFileToString(Target(), &contents));
  EXPECT_EQ("{\"homepage\": \"about:blank\"}", contents);
  std::vector<testing::RecordedRequest> requests = server.RequestsTo("/prefs?x=1");
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("POST", requests[0].method);
  EXPECT_EQ("partner=acme", requests[0].body);

  FetchFrom(server.Url("/prefs?x=1"), "");
  EXPECT_EQ(2, done_calls_);
  requests = server.RequestsTo("/prefs?x=1");
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("GET", requests[1].method);
}

TEST_F(PrefDefaultOverridesFetcherTest, FailedDownloadLeavesNoFile) {
  testing::UpdateServer server;
  ASSERT_TRUE(server.Start()) << server.error();
  ASSERT_TRUE(server.ServeText("/prefs", 200, "overrides"));
  // An error status, and a server error on a file that is there.
  ASSERT_TRUE(server.ServeText("/missing", 404, "not here"));
  ASSERT_TRUE(server.ServeText("/broken", 200, "overrides"));
  ASSERT_TRUE(server.AddFaults("/broken", R"([{"status": 500, "times": 1}])"));
  // A busy server is asked once: the installation does not wait for these overrides.
  ASSERT_TRUE(server.ServeText("/busy", 200, "overrides"));
  ASSERT_TRUE(server.AddFaults("/busy", R"([{"status": 503}])"));
  // An answer beyond a mebibyte is not taken.
  ASSERT_TRUE(server.ServeText("/long", 200, std::string(1024 * 1024 + 1, 'a')));
  for (const char* path : {"/missing", "/broken", "/busy", "/long"}) {
    SCOPED_TRACE(path);
    ASSERT_EQ(5, base::WriteFile(Target(), "stale", 5));
    done_calls_ = 0;
    FetchFrom(server.Url(path), "t");
    EXPECT_EQ(1, done_calls_);
    EXPECT_FALSE(base::PathExists(Target()));
    EXPECT_EQ(1u, server.RequestsTo(path).size());
  }
}

TEST_F(PrefDefaultOverridesFetcherTest, UnsendableRequestRunsDoneAtOnce) {
  // A host outside the allowed list is refused before anything is sent.
  base::CommandLine::ForCurrentProcess()->AppendSwitchNative(kSwitch, L"http://example.invalid/p");
  PrefDefaultOverridesFetcher fetcher(Path(L""), &ui_);
  fetcher.SetFeatureEnabledForTesting(true);
  fetcher.Fetch("t", base::Bind([](int* calls) { ++*calls; }, &done_calls_));
  EXPECT_EQ(1, done_calls_);
  EXPECT_FALSE(base::PathExists(Target()));
}

TEST_F(PrefDefaultOverridesFetcherTest, UrlFromTheSwitchOrTheConfiguration) {
  EXPECT_EQ(base::UTF8ToWide(GetProductUrl("autoupdate") + "api/prefs/?product=" +
                             GetProductName() + "&version=" + GetProductVersion()),
            PrefDefaultOverridesFetcher::GetPrefDefaultOverridesUrl());
  base::CommandLine::ForCurrentProcess()->AppendSwitch(kSwitch);
  EXPECT_EQ(L"http://localhost:3001/", PrefDefaultOverridesFetcher::GetPrefDefaultOverridesUrl());
  // A value replaces the whole URL, query included.
  base::CommandLine::ForCurrentProcess()->AppendSwitchNative(kSwitch, L"http://127.0.0.1:9/x");
  EXPECT_EQ(L"http://127.0.0.1:9/x", PrefDefaultOverridesFetcher::GetPrefDefaultOverridesUrl());
}

TEST(PrefDefaultOverridesHostsTest, ConfiguredDomainJoinsTheBuiltInHosts) {
  const std::vector<std::wstring> hosts = PrefDefaultOverridesFetcher::GetAllowedHostSuffixes();
  // The tests' configuration names ".localhost".
  ASSERT_EQ(6u, hosts.size());
  EXPECT_EQ(L".localhost", hosts[5]);
  EXPECT_EQ(L"127.0.0.1", hosts[4]);
}

}  // namespace
}  // namespace installer
