#include "desktop/windows/installer/installer_stats.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/json/json_reader.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/package_fetcher/fake_fetcher_delegates_test_util.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_worker.h"
#include "desktop/windows/installer/pref_default_overrides_fetcher.h"
#include "testing/update_server/update_server_test_util.h"

namespace installer {
namespace {

TEST(EndpointNameHashTest, HashesBothNamesAsUtf16AndIsEmptyOnlyWithoutNames) {
  struct Case {
    const wchar_t* user;
    const wchar_t* computer;
    const char* hash;
  } cases[] = {
      {L"user", L"PC", "276dd0484c8ad1dbc350ee3e88ff21a3d182dec79ff1a18d2224ee1d3e1a37ac"},
      {L"us", L"erPC", "276dd0484c8ad1dbc350ee3e88ff21a3d182dec79ff1a18d2224ee1d3e1a37ac"},
      {L"", L"PC", "0fd13bddfeea2b5e1207641964e7610ca2acef8cc38c8542ed496af0e3d7decb"},
      {L"a", L"", "ffe9aaeaa2a2d5048174df0b80599ef0197ec024c4b051bc9860cff58ef7f9f3"},
      // Not the SHA-256 of nothing.
      {L"", L"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.hash, ComputeEndpointNameHash(c.user, c.computer)) << c.user << c.computer;
}

class InstallerStatsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { base::CommandLine::Init(); }

  std::unique_ptr<base::Dictionary> Record() {
    std::string json;
    EXPECT_TRUE(stats_.ToJson(&json));
    return base::Dictionary::From(base::JsonReader::Read(json));
  }

  // Sends to the local server and runs the loop until done; |sent| is Send's result.
  int SendAndWait(bool wait_for_network, bool* sent) {
    base::RunLoop run_loop;
    int done_calls = 0;
    *sent = stats_.Send(base::Bind([](base::RunLoop* loop, int* calls) {
                          ++*calls;
                          loop->Quit();
                        }, &run_loop, &done_calls),
                        wait_for_network);
    // A generous guard, so that a send that never ends fails the test instead.
    loop_.task_runner()->PostDelayedTask(FROM_HERE, run_loop.QuitClosure(),
                                         base::TimeDelta::FromSeconds(90));
    if (done_calls == 0) run_loop.Run();
    return done_calls;
  }

  void AddFetch(const std::vector<const char*>& chunk_ips) {
    std::unique_ptr<StatsNode> fetch = stats_.root()->AppendDictionaryToList("fetches");
    for (const char* ip : chunk_ips) {
      std::unique_ptr<StatsNode> chunk = fetch->AppendDictionaryToList("download_chunks");
      if (ip) chunk->SetString("ip", ip);
    }
  }

  base::MessageLoop loop_;
  testing::NoWindowUIDelegate ui_;
  InstallerStats stats_{&ui_};
  testing::UpdateServer server_;
};

TEST_F(InstallerStatsTest, StartsWithTheRunsFacts) {
  std::unique_ptr<base::Dictionary> record = Record();
  ASSERT_TRUE(record);
  std::string text;
  int number = -1;
  EXPECT_TRUE(record->GetString("version", &text));
  EXPECT_EQ(GetBuildVersion(), text);
  EXPECT_TRUE(record->GetString("stream", &text));
  EXPECT_EQ(GetChannelName(), text);
  EXPECT_TRUE(record->GetString("product", &text));
  EXPECT_EQ(GetBuildProductName(), text);
  EXPECT_TRUE(record->GetString("os.name", &text));
  EXPECT_EQ("windows", text);
  for (const char* key : {"os.version.major", "os.version.minor", "os.version.build",
                          "os.service_pack.major", "os.service_pack.minor",
                          "installer_start_time.elapsed", "parent_process_id"}) {
    EXPECT_TRUE(record->GetInteger(key, &number)) << key;
  }
  EXPECT_TRUE(record->GetInteger("os.version.major", &number));
  EXPECT_GE(number, 6);
  EXPECT_TRUE(record->GetString("installer_start_time.time", &text));
  EXPECT_EQ(23u, text.size());
  EXPECT_TRUE(record->GetString("installation_start_time", &text));
  EXPECT_EQ(23u, text.size());
  EXPECT_TRUE(record->GetString("command_line_args", &text));
  EXPECT_NE(std::string::npos, text.find("--gtest")) << text;
  EXPECT_TRUE(record->GetString("parent_process_name", &text));
  EXPECT_TRUE(record->GetString("endpoint_name_hash", &text));
  EXPECT_EQ(64u, text.size());
}

TEST_F(InstallerStatsTest, SendPostsTheRecordWithDownloadTotals) {
  ASSERT_TRUE(server_.Start()) << server_.error();
  AddFetch({"10.0.0.1", "10.0.0.2"});
  AddFetch({"10.0.0.3", nullptr, "10.0.0.4"});
  stats_.root()->AppendDictionaryToList("fetches");  // a try without a download
  stats_.SetServerUrlForTesting(L"http://localhost:" + std::to_wstring(server_.port()) + L"/");
  bool sent = false;
  EXPECT_EQ(1, SendAndWait(true, &sent));
  EXPECT_TRUE(sent);
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, stats_.sender_for_testing()->state());

  std::unique_ptr<base::Dictionary> record = Record();
  int retries = 0;
  std::string ips;
  ASSERT_TRUE(record->GetInteger("wininet_retries", &retries));
  EXPECT_EQ(5, retries);
  ASSERT_TRUE(record->GetString("download_ips", &ips));
  EXPECT_EQ("10.0.0.1; 10.0.0.2; 10.0.0.3; 10.0.0.4", ips);
  EXPECT_TRUE(record->GetInteger("stats_sending_time.elapsed", &retries));

  std::vector<testing::RecordedRequest> posts = server_.RequestsTo("/netinstaller/feedback");
  ASSERT_EQ(1u, posts.size());
  EXPECT_EQ("POST", posts[0].method);
  std::string json;
  ASSERT_TRUE(stats_.ToJson(&json));
  EXPECT_EQ(json, posts[0].body);
}

TEST_F(InstallerStatsTest, WithoutFetchesNoDownloadTotalsAreSent) {
  ASSERT_TRUE(server_.Start()) << server_.error();
  stats_.SetServerUrlForTesting(L"http://localhost:" + std::to_wstring(server_.port()) + L"/");
  bool sent = false;
  EXPECT_EQ(1, SendAndWait(true, &sent));
  std::vector<testing::RecordedRequest> posts = server_.RequestsTo("/netinstaller/feedback");
  ASSERT_EQ(1u, posts.size());
  EXPECT_EQ(std::string::npos, posts[0].body.find("wininet_retries"));
  EXPECT_EQ(std::string::npos, posts[0].body.find("download_ips"));
}

TEST_F(InstallerStatsTest, NotWaitingForNetworkGivesUpAfterThreeFailures) {
  ASSERT_TRUE(server_.Start()) << server_.error();
  ASSERT_TRUE(server_.AddFaults("/netinstaller/feedback", R"([{"status": 503}])"));
  stats_.SetServerUrlForTesting(L"http://localhost:" + std::to_wstring(server_.port()) + L"/");
  stats_.sender_for_testing()->SetRetryDelayForTesting(base::TimeDelta::FromMilliseconds(10));
  bool sent = false;
  EXPECT_EQ(1, SendAndWait(false, &sent));
  EXPECT_TRUE(sent);
  EXPECT_EQ(2, stats_.sender_for_testing()->max_retries());
  EXPECT_EQ(WinInetDownloader::STATE_FAILED, stats_.sender_for_testing()->state());
  EXPECT_EQ(4u, server_.RequestsTo("/netinstaller/feedback").size());
}

// A server that read the record and then holds its answer, or resets, gets it at most
// four times, also when the run waits for the network.
TEST_F(InstallerStatsTest, ASentRecordIsPostedAtMostFourTimes) {
  ASSERT_TRUE(server_.Start()) << server_.error();
  stats_.SetServerUrlForTesting(L"http://localhost:" + std::to_wstring(server_.port()) + L"/");
  stats_.sender_for_testing()->SetRetryDelayForTesting(base::TimeDelta::FromMilliseconds(10));
  stats_.sender_for_testing()->SetReceiveTimeoutForTesting(base::TimeDelta::FromSeconds(1));
  size_t before = 0;
  for (const char* fault : {R"([{"hold_until": "never"}])", R"([{"reset": true}])"}) {
    SCOPED_TRACE(fault);
    ASSERT_TRUE(server_.AddFaults("/netinstaller/feedback", fault));
    bool sent = false;
    EXPECT_EQ(1, SendAndWait(true, &sent));
    EXPECT_EQ(WinInetDownloader::STATE_FAILED, stats_.sender_for_testing()->state());
    EXPECT_EQ(600, stats_.sender_for_testing()->max_retries());
    const std::vector<testing::RecordedRequest> posts =
        server_.RequestsTo("/netinstaller/feedback");
    EXPECT_EQ(before + 4, posts.size());
    before = posts.size();
  }
}

// The answer to the record is not read past 64 KiB: one whose length says more ends the
// send at once, unasked again.
TEST_F(InstallerStatsTest, AnAnswerBeyondItsBoundEndsTheSend) {
  ASSERT_TRUE(server_.Start()) << server_.error();
  ASSERT_TRUE(server_.AddFaults("/netinstaller/feedback", R"([{"content_length": 65537}])"));
  stats_.SetServerUrlForTesting(L"http://localhost:" + std::to_wstring(server_.port()) + L"/");
  stats_.sender_for_testing()->SetRetryDelayForTesting(base::TimeDelta::FromMilliseconds(10));
  bool sent = false;
  EXPECT_EQ(1, SendAndWait(true, &sent));
  EXPECT_EQ(WinInetDownloader::STATE_FAILED, stats_.sender_for_testing()->state());
  EXPECT_NE(std::string::npos,
            stats_.sender_for_testing()->GetLastErrorText().find("longer than 65536"))
      << stats_.sender_for_testing()->GetLastErrorText();
  EXPECT_EQ(1u, server_.RequestsTo("/netinstaller/feedback").size());
}

TEST_F(InstallerStatsTest, SendToAHostOutsideTheProductsFailsAtOnce) {
  stats_.SetServerUrlForTesting(L"http://127.0.0.1:9/");
  bool sent = true;
  EXPECT_EQ(1, SendAndWait(true, &sent));
  EXPECT_FALSE(sent);
  EXPECT_NE(std::string::npos,
            stats_.sender_for_testing()->GetLastErrorText().find("Domain disallowed 127.0.0.1"));
  EXPECT_EQ(600, stats_.sender_for_testing()->max_retries());
}

// The statistics, the download address and the preference defaults trust the same maker
// domain, the one the product configuration names.
TEST(ProductHostsTest, EveryOwnRequestAllowsTheSameMakerDomain) {
  const std::vector<std::wstring> lists[] = {
      InstallerStats::GetAllowedHostSuffixes(),
      PackageFetcherWorker::GetAddressHostSuffixes(),
      PrefDefaultOverridesFetcher::GetAllowedHostSuffixes(),
  };
  for (const std::vector<std::wstring>& hosts : lists) {
    SCOPED_TRACE(base::WideToUTF8(hosts.front()));
    EXPECT_NE(hosts.end(), std::find(hosts.begin(), hosts.end(), L".velumsoftware.com"));
    EXPECT_EQ(hosts.end(), std::find(hosts.begin(), hosts.end(), L".velum.com"));
  }
}

}  // namespace
}  // namespace installer
