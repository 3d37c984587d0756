#include "desktop/windows/installer/wininet/wininet_downloader.h"

#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/test_helper_process.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/package_fetcher/fake_fetcher_delegates_test_util.h"
#include "desktop/windows/installer/statistics/stats_node_test_util.h"
#include "desktop/windows/installer/wininet/product_hosts.h"
#include "testing/update_server/update_server_test_util.h"

namespace installer {
namespace {

using testing::NoWindowUIDelegate;
using testing::RecordedRequest;
using testing::RecordingFetcherDelegate;
using testing::UpdateServer;

std::string MakeBody(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return body;
}

class WinInetDownloaderTest : public base::ScratchDirTest {
 protected:
  void SetUp() override {
    base::ScratchDirTest::SetUp();
    ASSERT_TRUE(server_.Start()) << server_.error();
    downloader_.reset(new WinInetDownloader(&ui_, &progress_));
    // Counted retries wait six seconds in the product.
    downloader_->SetRetryDelayForTesting(base::TimeDelta::FromMilliseconds(10));
  }

  // Starts a download into a file and runs the loop until done; false when Start
  // refused. The chunks land in |chunks_| when |record_chunks|.
  bool Download(const std::wstring& url, const std::string& body = std::string()) {
    std::unique_ptr<FileResponseWriter> writer(new FileResponseWriter);
    EXPECT_TRUE(writer->Open(Path(L"download.bin")));
    std::unique_ptr<DownloadStatsObserver> observer(
        new ChunkDownloadStatsObserver(root_.Clone(), "download_chunks"));
    base::RunLoop run_loop;
    done_calls_ = 0;
    if (!downloader_->Start(url, body, base::Bind([](base::RunLoop* loop, int* calls) {
                                                   ++*calls;
                                                   loop->Quit();
                                                 }, &run_loop, &done_calls_),
                            std::move(writer), std::move(observer))) {
      return false;
    }
    RunWithGuard(&run_loop);
    return true;
  }

  // A generous guard so that a lost done call fails the test instead of hanging it.
  void RunWithGuard(base::RunLoop* run_loop) {
    bool timed_out = false;
    loop_.task_runner()->PostDelayedTask(
        FROM_HERE, base::Bind([](base::RunLoop* loop, bool* flag) {
                     *flag = true;
                     loop->Quit();
                   }, run_loop, &timed_out),
        base::TimeDelta::FromSeconds(90));
    run_loop->Run();
    EXPECT_FALSE(timed_out) << "done never ran";
  }

  std::string Downloaded() {
    std::string contents;
    EXPECT_TRUE(base::ReadFileToString(Path(L"download.bin"), &contents));
    return contents;
  }

  const base::Dictionary* Chunk(size_t index) {
    const base::List* chunks = nullptr;
    const base::Dictionary* chunk = nullptr;
    if (!tree_.GetList("download_chunks", &chunks) || !chunks->GetDictionary(index, &chunk))
      return nullptr;
    return chunk;
  }

  int ChunkInteger(size_t index, const char* key) {
    int value = -1;
    const base::Dictionary* chunk = Chunk(index);
    if (chunk) (void)chunk->GetInteger(key, &value);  // -1 when absent
    return value;
  }

  base::MessageLoop loop_;
  UpdateServer server_;
  NoWindowUIDelegate ui_;
  RecordingFetcherDelegate progress_;
  testing::TestStatsRecord record_;
  base::Dictionary& tree_ = record_.tree;
  StatsNode& root_ = record_.root;
  std::unique_ptr<WinInetDownloader> downloader_;
  int done_calls_ = 0;
};

TEST_F(WinInetDownloaderTest, GetWritesTheBodyReportsProgressAndHeaders) {
  const std::string body = MakeBody(5000);
  ASSERT_TRUE(server_.ServeFile("/package.exe", body));
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());
  EXPECT_EQ(1, done_calls_);
  EXPECT_TRUE(Downloaded() == body);
  EXPECT_EQ(std::vector<uint32_t>{5000}, progress_.totals);
  EXPECT_EQ(5000u, progress_.current);
  EXPECT_TRUE(progress_.stalls.empty());

  std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("GET", requests[0].method);
  EXPECT_EQ("Velum NetInstaller/" + GetProductVersion(), requests[0].Header("User-Agent"));
  EXPECT_EQ("", requests[0].Header("Range"));

  // One chunk with the address, the status and the four headers.
  EXPECT_EQ(0, ChunkInteger(0, "chunk_start"));
  EXPECT_EQ(5000, ChunkInteger(0, "chunk_end"));
  EXPECT_EQ(200, ChunkInteger(0, "http_status"));
  std::string text;
  ASSERT_TRUE(Chunk(0));
  EXPECT_TRUE(Chunk(0)->GetString("ip", &text));
  EXPECT_NE(std::string::npos, text.find("127.0.0.1")) << text;
  EXPECT_TRUE(Chunk(0)->GetString("headers.X-Served-By", &text));
  EXPECT_EQ("velum-test-update-server", text);
  EXPECT_TRUE(Chunk(0)->GetString("headers.Content-Length", &text));
  EXPECT_EQ("5000", text);
  EXPECT_TRUE(Chunk(0)->GetString("headers.Date", &text));
  EXPECT_FALSE(text.empty());
  EXPECT_TRUE(Chunk(0)->GetString("headers.Server", &text));
}

TEST_F(WinInetDownloaderTest, PostSendsTheBodyWithoutContentType) {
  ASSERT_TRUE(server_.ServeText("/feedback", 200, "thanks"));
  ASSERT_TRUE(Download(server_.Url("/feedback"), "{\"a\":1}"));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());
  EXPECT_EQ("thanks", Downloaded());
  std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("POST", requests[0].method);
  EXPECT_EQ("{\"a\":1}", requests[0].body);
  EXPECT_EQ("", requests[0].Header("Content-Type"));
}

TEST_F(WinInetDownloaderTest, HostsOutsideTheAllowListAreRefusedWithoutTraffic) {
  ASSERT_TRUE(server_.ServeFile("/package.exe", "x"));
  downloader_->set_allowed_host_suffixes({L".velumsoftware.com", L"localhost"});
  EXPECT_FALSE(Download(server_.Url("/package.exe")));
  EXPECT_NE(std::string::npos, downloader_->GetLastErrorText().find("Domain disallowed 127.0.0.1"))
      << downloader_->GetLastErrorText();
  EXPECT_TRUE(server_.Requests().empty());

  // A listed suffix allows the host; an empty entry allows all.
  downloader_->set_allowed_host_suffixes({L".0.0.1"});
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());
  EXPECT_EQ("", downloader_->GetLastErrorText());
}

TEST_F(WinInetDownloaderTest, BodyCutShortIsResumedWithARangeAndIsByteExact) {
  const std::string body = MakeBody(4000);
  ASSERT_TRUE(server_.ServeFile("/package.exe", body));
  ASSERT_TRUE(server_.AddFaults("/package.exe", R"([{"cut_after": 1500, "times": 1}])"));
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());
  EXPECT_EQ(1, done_calls_);
  EXPECT_TRUE(Downloaded() == body) << Downloaded().size();

  std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("bytes=1500-", requests[1].Header("Range"));
  // Two chunks: up to the break, then from it.
  EXPECT_EQ(0, ChunkInteger(0, "chunk_start"));
  EXPECT_EQ(1500, ChunkInteger(0, "chunk_end"));
  EXPECT_EQ(1500, ChunkInteger(1, "chunk_start"));
  EXPECT_EQ(1, ChunkInteger(1, "chunk_number"));
  EXPECT_EQ(206, ChunkInteger(1, "http_status"));
  EXPECT_EQ(4000, ChunkInteger(1, "chunk_end"));
  EXPECT_EQ(-1, ChunkInteger(0, "response_too_long"));
}

TEST_F(WinInetDownloaderTest, ResumeAnsweredWithTheWholeBodyStartsOver) {
  const std::string body = MakeBody(3000);
  ASSERT_TRUE(server_.ServeFile("/package.exe", body));
  ASSERT_TRUE(server_.AddFaults("/package.exe",
                                R"([{"cut_after": 1000, "times": 1}, {"ignore_range": true}])"));
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());
  EXPECT_TRUE(Downloaded() == body) << Downloaded().size();
  EXPECT_EQ(-1, ChunkInteger(1, "response_too_long"));
}

// A resume answered with another part of the body than the one asked for would put
// those bytes at the wrong place in the package.
TEST_F(WinInetDownloaderTest, ResumeAnsweredFromAnotherOffsetIsNotSpliced) {
  const std::string body = MakeBody(4000);
  ASSERT_TRUE(server_.ServeFile("/package.exe", body));
  const struct {
    std::string fault;  // of the answer to the resume at 1500
    std::string range;
  } cases[] = {
      {R"("range_shift": -1)", "bytes 1499-3999/4000"},
      {R"("range_shift": 1)", "bytes 1501-3999/4000"},
      {R"("range_shift": -1000)", "bytes 500-3999/4000"},
      {R"("range_shift": 1000)", "bytes 2500-3999/4000"},
      // Its last byte before its first; a total that 32 bits would cut to 1000.
      {R"("content_range": "bytes 1500-50/4000")", "bytes 1500-50/4000"},
      {R"("content_range": "bytes 1500-3999/4294968296")", "bytes 1500-3999/4294968296"},
      // An unsatisfied range says no start at all.
      {R"("content_range": "bytes */4000")", "bytes */4000"},
      // Longer than any header is read: not read at all, whatever it begins with.
      {R"("content_range": "bytes 1500-3999/4000;)" + std::string(3000, 'x') + "\"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    ASSERT_TRUE(server_.AddFaults("/package.exe",
                                  R"([{"cut_after": 1500, "times": 1}, {)" + c.fault + "}]"));
    const size_t before = server_.Requests().size();
    ASSERT_TRUE(Download(server_.Url("/package.exe")));
    EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
    EXPECT_EQ(1, done_calls_);
    EXPECT_NE(std::string::npos,
              downloader_->GetLastErrorText().find("Resume answered with the range " +
                                                   c.range + " at offset 1500"))
        << downloader_->GetLastErrorText();
    EXPECT_TRUE(Downloaded() == body.substr(0, 1500)) << Downloaded().size();
    const std::vector<RecordedRequest> requests = server_.Requests();
    ASSERT_EQ(before + 2, requests.size());
    EXPECT_EQ("bytes=1500-", requests.back().Header("Range"));
  }
  // Nor is it taken for a resume from the first byte, where a missing start would read
  // as the one asked for.
  ASSERT_TRUE(server_.AddFaults(
      "/package.exe",
      R"([{"cut_after": 0, "times": 1}, {"content_range": "bytes */4000"}])"));
  const size_t before = server_.Requests().size();
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
  EXPECT_NE(std::string::npos, downloader_->GetLastErrorText().find(
                                   "Resume answered with the range bytes */4000 at offset 0"))
      << downloader_->GetLastErrorText();
  EXPECT_EQ("", Downloaded());
  const std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(before + 2, requests.size());
  EXPECT_EQ("bytes=0-", requests.back().Header("Range"));
}

TEST_F(WinInetDownloaderTest, ThreeBadGatewaysStallOnTheThirdAndThenSucceed) {
  const std::string body = MakeBody(2500);
  ASSERT_TRUE(server_.ServeFile("/package.exe", body));
  ASSERT_TRUE(server_.AddFaults("/package.exe", R"([{"status": 502, "times": 3}])"));
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());
  EXPECT_EQ(std::vector<uint32_t>{502}, progress_.stalls);
  EXPECT_TRUE(Downloaded() == body);
  EXPECT_EQ(4u, server_.Requests().size());
  // The answer after the failures is a 206 to "bytes=0-": its total still reaches the
  // progress, and it is not taken for an overlong response.
  EXPECT_EQ(std::vector<uint32_t>{2500}, progress_.totals);
  EXPECT_EQ(2500u, progress_.current);
  EXPECT_EQ(-1, ChunkInteger(0, "response_too_long"));
  EXPECT_EQ(-1, ChunkInteger(1, "response_too_long"));
}

TEST_F(WinInetDownloaderTest, RetryLimitEndsARunOfBusyAnswers) {
  struct Case {
    int32_t max_retries;
    size_t requests;
  } cases[] = {
      // None allowed: the first busy answer ends the transfer.
      {0, 1u},
      // The count is compared before it is raised, so 2 fails on the fourth try.
      {2, 4u},
  };
  ASSERT_TRUE(server_.ServeFile("/package.exe", "x"));
  ASSERT_TRUE(server_.AddFaults("/package.exe", R"([{"status": 503}])"));
  for (const Case& test : cases) {
    SCOPED_TRACE(test.max_retries);
    downloader_->set_max_retries(test.max_retries);
    const size_t before = server_.Requests().size();
    ASSERT_TRUE(Download(server_.Url("/package.exe")));
    EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
    EXPECT_EQ(1, done_calls_);
    EXPECT_EQ(test.requests, server_.Requests().size() - before);
    EXPECT_NE(std::string::npos, downloader_->GetLastErrorText().find(
                                     "Number of retries exceeded, last error: 503"));
  }

  // The next transfer of the same downloader gets its retries again.
  ASSERT_TRUE(server_.AddFaults("/package.exe", R"([{"status": 504, "times": 2}])"));
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());

  // A server gone, as with a closed port, is not tried again when none are allowed. The
  // connection is refused (12029), or, when WinINet reuses the kept-alive connection of
  // the transfer above, found closed (12030): the downloader treats both alike.
  const std::wstring url = server_.Url("/package.exe");
  ASSERT_TRUE(server_.Stop());
  downloader_->set_max_retries(0);
  progress_.stalls.clear();
  ASSERT_TRUE(Download(url));
  EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
  EXPECT_EQ(0, downloader_->retry_count());
  const std::string error = downloader_->GetLastErrorText();
  EXPECT_TRUE(error.find("Number of retries exceeded, last error: 12029") != std::string::npos ||
              error.find("Number of retries exceeded, last error: 12030") != std::string::npos)
      << error;
  EXPECT_TRUE(progress_.stalls.empty());
}

// Without the test setting, a busy server is asked again only after six seconds, taken
// from when it received each request. Its clock and the downloader's may step or drift
// a few milliseconds apart.
TEST_F(WinInetDownloaderTest, BusyAnswersAreRetriedAfterTheProductsDelay) {
  const int kDelayUs = 6000000;
  const int kClockSlackUs = 10000;
  downloader_.reset(new WinInetDownloader(&ui_, &progress_));
  ASSERT_TRUE(server_.ServeFile("/package.exe", "x"));
  ASSERT_TRUE(server_.AddFaults("/package.exe",
                                R"([{"status": 503, "times": 1}, {"status": 502, "times": 1}])"));
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
      << downloader_->GetLastErrorText();
  const std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(3u, requests.size());
  for (size_t i = 1; i < requests.size(); ++i) {
    ASSERT_GE(requests[i - 1].received_us, 0);
    EXPECT_GE(requests[i].received_us - requests[i - 1].received_us, kDelayUs - kClockSlackUs)
        << "retry " << i;
  }
}

TEST_F(WinInetDownloaderTest, AnswersThatBreakOffWithoutNewBytesAreCountedRetries) {
  struct Case {
    const char* faults;
    size_t requests;
  } cases[] = {
      // Every answer ends before its first byte.
      {R"([{"cut_after": 0}])", 4u},
      // Every resume is answered from the start again and breaks where the first did.
      {R"([{"cut_after": 2000, "ignore_range": true}])", 5u},
  };
  ASSERT_TRUE(server_.ServeFile("/package.exe", MakeBody(3000)));
  downloader_->set_max_retries(2);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.faults);
    ASSERT_TRUE(server_.AddFaults("/package.exe", test.faults));
    const size_t before = server_.Requests().size();
    progress_.stalls.clear();
    ASSERT_TRUE(Download(server_.Url("/package.exe")));
    EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
    EXPECT_EQ(1, done_calls_);
    EXPECT_EQ(test.requests, server_.Requests().size() - before);
    EXPECT_NE(std::string::npos, downloader_->GetLastErrorText().find(
                                     "Number of retries exceeded, last error: 12030"))
        << downloader_->GetLastErrorText();
    EXPECT_EQ((std::vector<uint32_t>{12030, 12030}), progress_.stalls);
  }

  // Breaks that bring the floor's bytes are resumed at once and do not use up the retries.
  const std::string body = MakeBody(12000);
  ASSERT_TRUE(server_.ServeFile("/package.exe", body));
  ASSERT_TRUE(server_.AddFaults("/package.exe", R"([{"cut_after": 2000, "times": 5}])"));
  downloader_->set_max_retries(1);
  const size_t before = server_.Requests().size();
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
      << downloader_->GetLastErrorText();
  EXPECT_TRUE(Downloaded() == body);
  EXPECT_EQ(6u, server_.Requests().size() - before);
}

// A connection that breaks while the body comes, cut or held until the receive timeout,
// is taken up again at once where it broke: with no retry allowed and a retry delay no
// test waits for, the transfer still completes.
TEST_F(WinInetDownloaderTest, ABreakWhileReceivingResumesAtOnceUncounted) {
  const std::string body = MakeBody(60000);
  ASSERT_TRUE(server_.ServeFile("/package.exe", body));
  const char* const faults[] = {
      R"([{"cut_after": 20000, "times": 2}])",
      R"([{"hold_until": "never", "after_bytes": 20000, "times": 1},
          {"hold_until": "never", "after_bytes": 40000, "times": 1}])",
  };
  downloader_->SetReceiveTimeoutForTesting(base::TimeDelta::FromSeconds(2));
  downloader_->SetRetryDelayForTesting(base::TimeDelta::FromSeconds(3600));
  downloader_->set_max_retries(0);
  for (const char* fault : faults) {
    SCOPED_TRACE(fault);
    ASSERT_TRUE(server_.AddFaults("/package.exe", fault));
    const size_t before = server_.Requests().size();
    ASSERT_TRUE(Download(server_.Url("/package.exe")));
    EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
        << downloader_->GetLastErrorText();
    EXPECT_TRUE(Downloaded() == body);
    EXPECT_EQ(0, downloader_->retry_count());
    const std::vector<RecordedRequest> requests = server_.Requests();
    ASSERT_EQ(before + 3, requests.size());
    EXPECT_NE("", requests[before + 1].Header("Range"));
    EXPECT_NE("bytes=0-", requests[before + 1].Header("Range"));
  }
}

// A try that brings fewer bytes than the floor, because it breaks off or trickles, is a
// counted failure whatever its status, and its bytes do not give the retries back.
TEST_F(WinInetDownloaderTest, TriesUnderTheProgressFloorAreCountedFailures) {
  ASSERT_TRUE(server_.ServeFile("/package.exe", MakeBody(3000)));
  const struct {
    const char* faults;
    const char* error;
  } cases[] = {
      {R"([{"cut_after": 500}])", "Number of retries exceeded, last error: 12030"},
      {R"([{"trickle": 0.05}])", "Number of retries exceeded, last error: 12002"},
  };
  downloader_->SetProgressWindowForTesting(base::TimeDelta::FromSeconds(1));
  downloader_->set_max_retries(2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.faults);
    ASSERT_TRUE(server_.AddFaults("/package.exe", c.faults));
    const size_t before = server_.Requests().size();
    ASSERT_TRUE(Download(server_.Url("/package.exe")));
    EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
    EXPECT_EQ(1, done_calls_);
    EXPECT_NE(std::string::npos, downloader_->GetLastErrorText().find(c.error))
        << downloader_->GetLastErrorText();
    EXPECT_EQ(4u, server_.Requests().size() - before);
  }
  // Wine does not end a closed request's pending read, which waits for a full buffer:
  // the trickles end with the server, so that the session can close.
  EXPECT_TRUE(server_.Stop());
}

// A server that answers a kilobyte and then stalls, on every connection, or that sends a
// kilobyte a little faster than each window, brings new bytes below the rate: every try
// is a counted failure, the transfer ends with its retries, and each resume asks from
// where the bytes read so far end.
TEST_F(WinInetDownloaderTest, TriesBelowTheRateAreCountedWhateverTheyBrought) {
  ASSERT_TRUE(server_.ServeFile("/package.exe", MakeBody(12000)));
  const struct {
    const char* faults;
    int64_t receive_timeout_ms;
    const char* ranges[3];
  } cases[] = {
      // Cut by the window.
      {R"([{"stall_after": 1024}])", 60000, {"bytes=1024-", "bytes=2048-", "bytes=3072-"}},
      // Broken off by the receive timeout, before the window ends.
      {R"([{"stall_after": 1024}])", 1500, {"bytes=1024-", "bytes=2048-", "bytes=3072-"}},
      // Two kilobytes in the first window of three seconds, one every 2.7 s.
      {R"([{"trickle": 2.7, "bytes": 1024}])", 60000,
       {"bytes=2048-", "bytes=4096-", "bytes=6144-"}},
  };
  downloader_->SetProgressWindowForTesting(base::TimeDelta::FromSeconds(3));
  downloader_->set_max_retries(2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.faults);
    downloader_->SetReceiveTimeoutForTesting(
        base::TimeDelta::FromMilliseconds(c.receive_timeout_ms));
    ASSERT_TRUE(server_.AddFaults("/package.exe", c.faults));
    const size_t before = server_.Requests().size();
    ASSERT_TRUE(Download(server_.Url("/package.exe")));
    EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
    EXPECT_NE(std::string::npos,
              downloader_->GetLastErrorText().find("Number of retries exceeded"))
        << downloader_->GetLastErrorText();
    const std::vector<RecordedRequest> requests = server_.Requests();
    ASSERT_EQ(before + 4, requests.size());
    EXPECT_EQ("", requests[before].Header("Range"));
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(c.ranges[i], requests[before + 1 + i].Header("Range"));
  }
  EXPECT_TRUE(server_.Stop());
}

// The window runs from the send: header bytes are no progress, and an answer whose
// header does not end in it, or whose first kilobyte never completes a read, is a counted
// failure.
TEST_F(WinInetDownloaderTest, AnswersWhoseHeaderOrFirstReadNeverEndsAreCounted) {
  ASSERT_TRUE(server_.ServeFile("/package.exe", MakeBody(3000)));
  downloader_->SetProgressWindowForTesting(base::TimeDelta::FromSeconds(1));
  downloader_->set_max_retries(1);
  for (const char* fault : {R"([{"header_trickle": 0.05}])", R"([{"stall_after": 1023}])"}) {
    SCOPED_TRACE(fault);
    ASSERT_TRUE(server_.AddFaults("/package.exe", fault));
    const size_t before = server_.Requests().size();
    ASSERT_TRUE(Download(server_.Url("/package.exe")));
    EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
    EXPECT_NE(std::string::npos, downloader_->GetLastErrorText().find(
                                     "Number of retries exceeded, last error: 12002"))
        << downloader_->GetLastErrorText();
    EXPECT_EQ(3u, server_.Requests().size() - before);
  }
  EXPECT_TRUE(server_.Stop());
}

// A window armed for a try that ended early must not judge the next one: here it runs
// out while the retry's answer is still on its way.
TEST_F(WinInetDownloaderTest, AnEndedTrysWindowDoesNotEndTheNextTry) {
  const std::string body = MakeBody(5000);
  ASSERT_TRUE(server_.ServeFile("/package.exe", body));
  ASSERT_TRUE(server_.AddFaults("/package.exe",
                                R"([{"status": 503, "times": 1}, {"delay": 4, "times": 1}])"));
  downloader_->SetProgressWindowForTesting(base::TimeDelta::FromSeconds(6));
  downloader_->SetRetryDelayForTesting(base::TimeDelta::FromSeconds(3));
  downloader_->set_max_retries(1);
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
      << downloader_->GetLastErrorText();
  EXPECT_TRUE(Downloaded() == body);
  EXPECT_EQ(2u, server_.Requests().size());
}

// A chain of redirects goes on in its try's window: slow ones cannot stretch a try to a
// window each.
TEST_F(WinInetDownloaderTest, SlowRedirectsShareTheirTrysWindow) {
  ASSERT_TRUE(server_.AddFaults(
      "/package.exe", R"([{"delay": 0.5, "status": 302, "location": "{base}/package.exe"}])"));
  downloader_->SetProgressWindowForTesting(base::TimeDelta::FromSeconds(2));
  downloader_->set_max_retries(0);
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
  EXPECT_NE(std::string::npos, downloader_->GetLastErrorText().find(
                                   "Number of retries exceeded, last error: 12002"))
      << downloader_->GetLastErrorText();
  EXPECT_GT(11u, server_.Requests().size());
  EXPECT_TRUE(server_.Stop());
}

// A try cut while its read waits must not reach the next try: Wine completes the read of
// the closed request later, once its connection is reset (here as soon as the next try's
// request came, so that this comes while the next try runs), a full buffer came or its
// receive timeout ran out.
TEST_F(WinInetDownloaderTest, AClosedTrysLateReadReachesNoLaterTry) {
  const std::string body = MakeBody(12000);
  ASSERT_TRUE(server_.ServeFile("/package.exe", body));
  downloader_->SetProgressWindowForTesting(base::TimeDelta::FromSeconds(1));
  downloader_->SetReceiveTimeoutForTesting(base::TimeDelta::FromSeconds(2));
  downloader_->set_max_retries(1);
  for (const char* first : {R"({"stall_after": 0, "times": 1, "reset_on_next": true})",
                            R"({"trickle": 0.1, "bytes": 45, "times": 1})",
                            R"({"stall_after": 0, "times": 1})"}) {
    SCOPED_TRACE(first);
    ASSERT_TRUE(server_.AddFaults(
        "/package.exe", std::string("[") + first + R"(, {"trickle": 0.25, "bytes": 1024}])"));
    const size_t before = server_.Requests().size();
    ASSERT_TRUE(Download(server_.Url("/package.exe")));
    EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
        << downloader_->GetLastErrorText();
    EXPECT_TRUE(Downloaded() == body) << Downloaded().size();
    EXPECT_EQ(2u, server_.Requests().size() - before);
  }
  EXPECT_TRUE(server_.Stop());
}

// A body longer than the transfer's bound fails it at once, whether its Content-Length
// says so or the connection's close ends it. A length that says so is refused before
// any byte of the body is read: a bound of a mebibyte must not first take the mebibyte.
TEST_F(WinInetDownloaderTest, BodiesBeyondTheBoundFailAtOnce) {
  ASSERT_TRUE(server_.ServeText("/answer", 200, std::string(3000, 'a')));
  downloader_->set_max_body_bytes(2000);
  const struct {
    const char* faults;
    size_t most_written;
  } cases[] = {{"[]", 0u}, {R"([{"no_length": true}])", 3000u}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.faults);
    ASSERT_TRUE(server_.AddFaults("/answer", c.faults));
    const size_t before = server_.Requests().size();
    ASSERT_TRUE(Download(server_.Url("/answer")));
    EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
    EXPECT_NE(std::string::npos, downloader_->GetLastErrorText().find("longer than"))
        << downloader_->GetLastErrorText();
    EXPECT_EQ(1u, server_.Requests().size() - before);
    EXPECT_GE(c.most_written, Downloaded().size());
  }
  // At the bound it is taken whole.
  downloader_->set_max_body_bytes(3000);
  ASSERT_TRUE(Download(server_.Url("/answer")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
      << downloader_->GetLastErrorText();
  EXPECT_EQ(3000u, Downloaded().size());
}

// A slow download above the floor goes on over many windows in one request.
TEST_F(WinInetDownloaderTest, ADownloadAboveTheFloorIsNeverCut) {
  const std::string body = MakeBody(400000);
  ASSERT_TRUE(server_.ServeFile("/package.exe", body));
  ASSERT_TRUE(server_.AddFaults("/package.exe", R"([{"trickle": 0.1, "bytes": 8192}])"));
  downloader_->SetProgressWindowForTesting(base::TimeDelta::FromSeconds(2));
  downloader_->set_max_retries(0);
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
      << downloader_->GetLastErrorText();
  EXPECT_TRUE(Downloaded() == body);
  EXPECT_EQ(1u, server_.Requests().size());
}

// Once a POST's body went out whole, its own bound applies: a server that reads it and
// then holds its answer or resets is asked at most that many more times. Before, the
// transfer's retries stand.
TEST_F(WinInetDownloaderTest, ASentPostIsRetriedOnlyWithinItsOwnBound) {
  downloader_->SetReceiveTimeoutForTesting(base::TimeDelta::FromSeconds(1));
  downloader_->set_max_retries(600);
  downloader_->set_max_retries_once_sent(2);
  for (const char* fault : {R"([{"hold_until": "never"}])", R"([{"reset": true}])"}) {
    SCOPED_TRACE(fault);
    ASSERT_TRUE(server_.AddFaults("/feedback", fault));
    const size_t before = server_.Requests().size();
    ASSERT_TRUE(Download(server_.Url("/feedback"), "{\"a\":1}"));
    EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
    EXPECT_NE(std::string::npos,
              downloader_->GetLastErrorText().find("Number of retries exceeded"));
    const std::vector<RecordedRequest> posts = server_.Requests();
    ASSERT_EQ(before + 4, posts.size());
    EXPECT_EQ("{\"a\":1}", posts.back().body);
  }
  const std::wstring url = server_.Url("/feedback");
  ASSERT_TRUE(server_.Stop());
  downloader_->set_max_retries(5);
  ASSERT_TRUE(Download(url, "{}"));
  EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
  EXPECT_EQ(6, downloader_->retry_count());
}

// Credentials and a fragment written into an address, by the caller or a redirect, are
// neither sent nor reported; the redirect is followed to the rest of the address.
TEST_F(WinInetDownloaderTest, UserinfoAndFragmentAreNeitherRequestedNorRecorded) {
  const std::string authority = "127.0.0.1:" + std::to_string(server_.port());
  ASSERT_TRUE(server_.ServeText("/target", 200, "done"));
  ASSERT_TRUE(server_.AddFaults(
      "/creds", "[{\"status\": 302, \"location\": \"http://user:pw@" + authority +
                    "/target#frag\"}]"));
  ASSERT_TRUE(Download(L"http://me:secret@" + base::UTF8ToWide(authority) + L"/creds#top"));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
      << downloader_->GetLastErrorText();
  EXPECT_EQ("done", Downloaded());
  const std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("/creds", requests[0].path);
  EXPECT_EQ("/target", requests[1].path);
  for (const RecordedRequest& request : requests)
    EXPECT_EQ("", request.Header("Authorization"));
  std::string redirected;
  ASSERT_TRUE(Chunk(0) && Chunk(0)->GetString("redirected_url", &redirected));
  EXPECT_EQ("http://" + authority + "/target", redirected);
}

// A request asks the address as it was resolved, checked and recorded, escapes and all,
// directly and through a proxy: "%3F" is no query, "%2F" no folder, and a signed query
// keeps its signature.
TEST_F(WinInetDownloaderTest, RequestsAskTheResolvedAddressAsWritten) {
  const std::string base = "http://127.0.0.1:" + std::to_string(server_.port());
  const std::string targets[] = {"/a%3Fb", "/a%23b", "/a%2Fb", "/a%5Cb",
                                 "/a%0D%0Ab", "/a%00b", "/a%09b", "/a%250Ab",
                                 "/get?sig=a%2Bb%2Fc%3D%3D%26x%3D1"};
  const std::wstring proxy = L"http://" + server_.ProxyAddress();
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    ASSERT_TRUE(server_.ServeText(target, 200, "done"));
    const size_t before = server_.Requests().size();
    const std::string redirect = "/redirect" + std::to_string(before);
    ASSERT_TRUE(server_.AddFaults(redirect, R"([{"status": 302, "location": ")" + target +
                                                R"("}])"));
    ASSERT_TRUE(Download(base::UTF8ToWide(base + target)));
    EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
        << downloader_->GetLastErrorText();
    ASSERT_TRUE(Download(base::UTF8ToWide(base + redirect)));
    EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
        << downloader_->GetLastErrorText();
    EXPECT_EQ("done", Downloaded());
    std::string redirected;
    for (size_t i = 0; Chunk(i); ++i) (void)Chunk(i)->GetString("redirected_url", &redirected);
    EXPECT_EQ(base + target, redirected);

    ASSERT_TRUE(SetEnvironmentVariableW(L"http_proxy", proxy.c_str()));
    (void)base::RunTestHelper(L"wininet_download_test_helper.exe",
                              L"\"" + base::UTF8ToWide(base + target) + L"\" \"" +
                                  Path(L"error.txt").value() + L"\"");
    SetEnvironmentVariableW(L"http_proxy", nullptr);
    const std::vector<RecordedRequest> requests = server_.Requests();
    std::vector<std::string> asked;
    for (size_t i = before; i < requests.size(); ++i) asked.push_back(requests[i].target);
    EXPECT_EQ((std::vector<std::string>{target, redirect, target, base + target}), asked);
  }
}

TEST_F(WinInetDownloaderTest, UnreachableServerStallsFromTheThirdFailure) {
  const std::wstring url = server_.Url("/package.exe");
  ASSERT_TRUE(server_.Stop());
  downloader_->set_max_retries(2);
  ASSERT_TRUE(Download(url));
  EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
  EXPECT_EQ((std::vector<uint32_t>{12029, 12029}), progress_.stalls);
  EXPECT_NE(std::string::npos, downloader_->GetLastErrorText().find(
                                   "Number of retries exceeded, last error: 12029"));
}

TEST_F(WinInetDownloaderTest, ProxyAskingForCredentialsEndsAsCancelledWithoutAWindow) {
  // WinINet takes "http_proxy" from the environment a process starts with, so the
  // download runs in a helper that inherits it.
  ASSERT_TRUE(server_.ServeFile("/package.exe", "x"));
  const std::wstring proxy = L"http://" + server_.ProxyAddress();
  ASSERT_TRUE(SetEnvironmentVariableW(L"http_proxy", proxy.c_str()));
  const int state = base::RunTestHelper(
      L"wininet_download_test_helper.exe",
      L"\"" + server_.Url("/package.exe") + L"\" \"" + Path(L"error.txt").value() + L"\"");
  SetEnvironmentVariableW(L"http_proxy", nullptr);
  EXPECT_EQ(WinInetDownloader::STATE_FAILED, state);
  std::string error;
  ASSERT_TRUE(base::ReadFileToString(Path(L"error.txt"), &error));
  EXPECT_NE(std::string::npos, error.find("The user cancelled the prompt for proxy credentials"))
      << error;
  std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("proxy", requests[0].listener);
  EXPECT_EQ("/package.exe", requests[0].path);
}

TEST_F(WinInetDownloaderTest, UnexpectedStatusesFailAtOnce) {
  for (int status : {404, 500, 204}) {
    SCOPED_TRACE(status);
    const std::string path = "/status" + std::to_string(status);
    ASSERT_TRUE(server_.AddFaults(path, "[{\"status\": " + std::to_string(status) + "}]"));
    ASSERT_TRUE(Download(server_.Url(path)));
    EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
    EXPECT_EQ(1, done_calls_);
    EXPECT_EQ(1u, server_.RequestsTo(path).size());
    EXPECT_NE(std::string::npos,
              downloader_->GetLastErrorText().find(
                  "Request completed with an unexpected HTTP status " + std::to_string(status)))
        << downloader_->GetLastErrorText();
  }
}

TEST_F(WinInetDownloaderTest, RedirectsAreFollowedOnlyToAllowedHosts) {
  const std::string body = MakeBody(1200);
  ASSERT_TRUE(server_.ServeFile("/target.exe", body));
  const std::string port = std::to_string(server_.port());
  ASSERT_TRUE(server_.AddFaults("/allowed", "[{\"status\": 302, \"location\": "
                                            "\"http://127.0.0.1:" + port + "/target.exe\"}]"));
  ASSERT_TRUE(server_.AddFaults("/disallowed", "[{\"status\": 302, \"location\": "
                                               "\"http://localhost:" + port + "/target.exe\"}]"));
  downloader_->set_allowed_host_suffixes({L"127.0.0.1"});

  ASSERT_TRUE(Download(server_.Url("/allowed")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());
  EXPECT_TRUE(Downloaded() == body);
  std::string redirected;
  ASSERT_TRUE(Chunk(0));
  EXPECT_TRUE(Chunk(0)->GetString("redirected_url", &redirected));
  EXPECT_EQ("http://127.0.0.1:" + port + "/target.exe", redirected);

  ASSERT_TRUE(Download(server_.Url("/disallowed")));
  EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
  EXPECT_EQ(1, done_calls_);
  EXPECT_NE(std::string::npos,
            downloader_->GetLastErrorText().find("Redirect URL is disallowed localhost"))
      << downloader_->GetLastErrorText();
  EXPECT_EQ("", Downloaded());
  EXPECT_EQ(1u, server_.RequestsTo("/target.exe").size());

  // To another host: a connection of its own.
  downloader_->set_allowed_host_suffixes({L"127.0.0.1", L"localhost"});
  ASSERT_TRUE(Download(server_.Url("/disallowed")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
      << downloader_->GetLastErrorText();
  EXPECT_TRUE(Downloaded() == body);
}

TEST_F(WinInetDownloaderTest, ARedirectChainEndsAfterTenRedirects) {
  const std::string port = std::to_string(server_.port());
  const std::string base = "http://127.0.0.1:" + port;
  struct Case {
    const char* path;
    std::string location;
    std::string error;
  } cases[] = {
      {"/loop", base + "/loop", "Too many redirects, more than 10, the last to " + base + "/loop"},
      {"/to_ftp", "ftp://127.0.0.1:" + port + "/x", "Redirect URL scheme is not http or https"},
      // Addresses no request can reach fail at once, not as a network that is down.
      {"/to_bad_port", "http://127.0.0.1:99999/x", "Redirect URL failed to parse"},
      {"/to_port_0", "http://127.0.0.1:0/x", "Redirect URL failed to parse"},
      {"/to_bad_ipv6", "http://[zz::1/x", "Redirect URL failed to parse"},
      {"/to_bad_ipv4", "http://127.0.0.300:" + port + "/x", "Redirect URL failed to parse"},
      {"/to_product_inside", "http://x.velumsoftware.com.evil.net:" + port + "/x",
       "Redirect URL is disallowed x.velumsoftware.com.evil.net"},
      // Texts Wine's URL cracker crashes on, resolved against the current address first.
      {"/to_crash_text", "x:@.", "Redirect URL scheme is not http or https"},
      {"/to_long_file", "file://" + std::string(300, 'a') + "@.",
       "Redirect URL scheme is not http or https file://"},
      // Read past the "\" as "HTTP://" is, the port is over 65535; read to it, the
      // server's own.
      {"/to_backslash", "HTTP://e2e\\\\x@127.0.0.1:" + std::to_string(server_.port() + 65536) +
                            "/x",
       "Redirect URL failed to parse HTTP://127.0.0.1:"},
  };
  downloader_->set_allowed_host_suffixes({kProductDomainSuffix, L"127.0.0.1"});
  for (const Case& test : cases) {
    SCOPED_TRACE(test.path);
    ASSERT_TRUE(server_.AddFaults(test.path, std::string("[{\"status\": 302, \"location\": \"") +
                                                 test.location + "\"}]"));
    ASSERT_TRUE(Download(server_.Url(test.path)));
    EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
    EXPECT_EQ(1, done_calls_);
    EXPECT_NE(std::string::npos, downloader_->GetLastErrorText().find(test.error))
        << downloader_->GetLastErrorText();
    EXPECT_EQ("", Downloaded());
  }
  // The original request and the ten redirects it followed.
  EXPECT_EQ(11u, server_.RequestsTo("/loop").size());
  for (const Case& test : cases) {
    if (test.path != std::string("/loop")) {
      EXPECT_EQ(1u, server_.RequestsTo(test.path).size());
    }
  }
}

// A body that does not end where its Content-Length says leaves its connection in an
// unknown state: the next request must be answered by the server, not by what is left.
TEST_F(WinInetDownloaderTest, AnAnswerOfTheWrongLengthIsNotFollowedByStaleBytes) {
  const std::string text = "{\"installer\": \"http://127.0.0.1/a\", \"more\": \"padding\"}";
  // Shorter than the body, the connection kept open; longer, the connection closed.
  const int content_lengths[] = {10, static_cast<int>(text.size()) + 50};
  ASSERT_TRUE(server_.ServeText("/address", 200, text));
  ASSERT_TRUE(server_.ServeText("/next", 200, "next answer"));
  for (int content_length : content_lengths) {
    SCOPED_TRACE(content_length);
    ASSERT_TRUE(server_.AddFaults(
        "/address", "[{\"content_length\": " + std::to_string(content_length) +
                        ", \"times\": 1}]"));
    ASSERT_TRUE(Download(server_.Url("/address")));
    const size_t before = server_.RequestsTo("/next").size();
    ASSERT_TRUE(Download(server_.Url("/next")));
    EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());
    EXPECT_EQ("next answer", Downloaded());
    EXPECT_EQ(before + 1, server_.RequestsTo("/next").size());
  }
}

// A server that sends nothing more is a dropped connection once the receive timeout
// passes: held after part of the body, the transfer resumes at once where it stopped;
// held before the headers, it is a counted retry.
TEST_F(WinInetDownloaderTest, AHeldAnswerTimesOutAndIsRetried) {
  // Held beyond what WinINet reads ahead before it reports the headers.
  const std::string body = MakeBody(60000);
  ASSERT_TRUE(server_.ServeFile("/package.exe", body));
  ASSERT_TRUE(server_.ServeText("/address", 200, "address"));
  const struct {
    const char* path;
    const char* faults;
    std::string body;
    bool resumed_inside;  // the retry asked for the rest of the body
  } cases[] = {
      {"/package.exe", R"([{"hold_until": "never", "after_bytes": 20000, "times": 1}])", body,
       true},
      {"/address", R"([{"hold_until": "never", "times": 1}])", "address", false},
  };
  // Short for the test, yet long enough that a loaded machine does not reach it otherwise.
  downloader_->SetReceiveTimeoutForTesting(base::TimeDelta::FromSeconds(2));
  downloader_->set_max_retries(2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ASSERT_TRUE(server_.AddFaults(c.path, c.faults));
    ASSERT_TRUE(Download(server_.Url(c.path)));
    EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
        << downloader_->GetLastErrorText();
    EXPECT_TRUE(Downloaded() == c.body);
    const std::vector<RecordedRequest> requests = server_.RequestsTo(c.path);
    ASSERT_LE(2u, requests.size());
    // Where the held body stopped: what WinINet handed over of the bytes sent.
    EXPECT_EQ(c.resumed_inside, requests[1].Header("Range") != "bytes=0-")
        << requests[1].Header("Range");
  }
}

// A redirect of a POST: 301, 302 and 303 are followed with a GET without the body, 307
// and 308 with the same method and body.
TEST_F(WinInetDownloaderTest, PostRedirectsKeepTheMethodOnlyFor307And308) {
  ASSERT_TRUE(server_.ServeText("/target", 200, "done"));
  for (int status : {301, 302, 303, 307, 308}) {
    SCOPED_TRACE(status);
    const std::string path = "/post" + std::to_string(status);
    ASSERT_TRUE(server_.AddFaults(path, "[{\"status\": " + std::to_string(status) +
                                            ", \"location\": \"/target\"}]"));
    const size_t before = server_.RequestsTo("/target").size();
    ASSERT_TRUE(Download(server_.Url(path), "{\"a\":1}"));
    EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());
    const std::vector<RecordedRequest> requests = server_.RequestsTo("/target");
    ASSERT_EQ(before + 1, requests.size());
    const bool kept = status >= 307;
    EXPECT_EQ(kept ? "POST" : "GET", requests.back().method);
    EXPECT_EQ(kept ? "{\"a\":1}" : "", requests.back().body);
  }
}

// A Location longer than a URL may be is refused with that reason (combining it with the
// current address cut it, and Wine cuts a header of 100,000 characters to 4,085); a long
// one within the bound is followed exactly as given.
TEST_F(WinInetDownloaderTest, ALongLocationIsFollowedExactlyOrRefused) {
  const std::string base = "http://127.0.0.1:" + std::to_string(server_.port());
  const std::string within = "/" + std::string(2000, 'b');
  ASSERT_TRUE(server_.ServeText(within, 200, "long"));
  ASSERT_TRUE(server_.AddFaults("/near", "[{\"status\": 302, \"location\": \"" + base + within +
                                             "\"}]"));
  ASSERT_TRUE(Download(server_.Url("/near")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
      << downloader_->GetLastErrorText();
  EXPECT_EQ(1u, server_.RequestsTo(within).size());

  // One character over the bound is as far over it as any.
  for (size_t length : {size_t{100000}, size_t{2085}}) {
    ASSERT_TRUE(server_.AddFaults("/far", "[{\"status\": 302, \"location\": \"" + base + "/" +
                                              std::string(length - base.size() - 1, 'c') +
                                              "\"}]"));
    const size_t before = server_.Requests().size();
    ASSERT_TRUE(Download(server_.Url("/far")));
    EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
    EXPECT_NE(std::string::npos, downloader_->GetLastErrorText().find(
                                     "Redirect URL is too long, its Location longer than the bound"))
        << downloader_->GetLastErrorText().substr(0, 300);
    EXPECT_EQ(before + 1, server_.Requests().size());
  }

  // Relative ones are resolved against this request's address and escaped by our own
  // code, then bounded as an absolute one: one that grows past the bound on the way is
  // refused with nothing requested, and never stands in for an earlier redirect's target
  // (Wine's combining returned an earlier call's text for one of exactly 2,084
  // characters, and faulted on longer results).
  ASSERT_TRUE(server_.ServeText("/x/y?q=a", 200, "resolved"));
  ASSERT_TRUE(server_.AddFaults("/directory/near",
                                R"([{"status": 302, "location": "../x/./y?q=a#f"}])"));
  ASSERT_TRUE(Download(server_.Url("/directory/near")));
  EXPECT_EQ("resolved", Downloaded());
  // Resolved to exactly the bound it is followed; one character more is refused.
  const std::string fits(2084 - server_.Url("/directory/").size(), 'a');
  ASSERT_TRUE(server_.ServeText("/directory/" + fits, 200, "fits"));
  ASSERT_TRUE(server_.AddFaults("/directory/edge", "[{\"status\": 302, \"location\": \"" +
                                                       fits + "\"}]"));
  ASSERT_TRUE(Download(server_.Url("/directory/edge")));
  EXPECT_EQ("fits", Downloaded()) << downloader_->GetLastErrorText().substr(0, 300);
  std::string eacute;
  for (int i = 0; i < 360; ++i) eacute += "\\u00e9";
  for (const std::string& relative :
       {std::string(2084, 'a'), std::string(700, '<'), eacute, fits + "a"}) {
    SCOPED_TRACE(relative.substr(0, 6));
    ASSERT_TRUE(server_.AddFaults("/directory/far", R"([{"status": 302, "location": ")" +
                                                        relative + "\"}]"));
    const size_t all = server_.Requests().size();
    ASSERT_TRUE(Download(server_.Url("/directory/far")));
    EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
    EXPECT_NE(std::string::npos,
              downloader_->GetLastErrorText().find("Redirect URL is too long, "));
    EXPECT_EQ(all + 1, server_.Requests().size());
  }
}

// A server that ignores "Connection: close" and sends more than its Content-Length leaves
// bytes on a connection it keeps open: the next transfer, a POST as the fetcher's next
// address request is, must be answered by the server, not by those bytes. They come with
// the body, or only once the next request went out on that connection.
TEST_F(WinInetDownloaderTest, BytesBeyondTheLengthOnAKeptConnectionReachNoLaterAnswer) {
  ASSERT_TRUE(server_.ServeFile("/package.exe", MakeBody(3000)));
  ASSERT_TRUE(server_.ServeText("/next", 200, "next answer"));
  for (const char* late : {"false", "true"}) {
    SCOPED_TRACE(late);
    ASSERT_TRUE(server_.AddFaults("/package.exe", std::string(R"([{"extra_bytes": 1000, "late": )") +
                                                      late + "}]"));
    ASSERT_TRUE(Download(server_.Url("/package.exe")));
    EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());
    EXPECT_EQ(3000u, Downloaded().size());
    const size_t before = server_.RequestsTo("/next").size();
    ASSERT_TRUE(Download(server_.Url("/next"), "{}"));
    EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());
    EXPECT_EQ("next answer", Downloaded());
    // Wine sends it on the kept connection first (see HasHttp1StatusLine).
    EXPECT_LE(before + 1, server_.RequestsTo("/next").size());
  }
}

// Only http and https are fetched; a refused start closes the writer it was given and
// leaves the state of the last transfer.
TEST_F(WinInetDownloaderTest, RefusedStartsSendNothingAndKeepTheState) {
  class ClosingWriter : public ResponseWriter {
   public:
    explicit ClosingWriter(int* closes) : closes_(closes) {}
    void Close() override { ++*closes_; }

   private:
    int* const closes_;
  };
  ASSERT_TRUE(server_.ServeFile("/package.exe", "x"));
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  ASSERT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());
  const std::wstring port = std::to_wstring(server_.port());
  struct Case {
    std::wstring url;
    const char* error;
    bool http;
  } cases[] = {
      {L"ftp://127.0.0.1:" + port + L"/package.exe", "URL scheme is not http or https ftp://",
       false},
      {L"file:///C:/windows/win.ini", "URL scheme is not http or https file:", false},
      {L"not a url", "Could not parse URL not a url", false},
      {L"http://127.0.0.1:" + port + L"/" + std::wstring(100000, L'a'), "Could not parse URL",
       false},
      {L"http://example.com/package.exe", "Domain disallowed example.com", true},
      {L"http://x.velumsoftware.com.evil.net/a", "Domain disallowed x.velumsoftware.com.evil.net",
       true},
      {L"http://127.0.0.1:65536/a", "Could not parse URL", false},
      {L"http://127.0.0.1:/a", "Could not parse URL", false},
      {L"http://[::1/a", "Could not parse URL", false},
      {L"http://exa%6dple.com/a", "Could not parse URL", false},
      // Texts Wine's URL cracker crashes on.
      {L"x:@.", "URL scheme is not http or https x:@.", false},
      {L"a:0@.", "URL scheme is not http or https a:0@.", false},
      {L"file://" + std::wstring(300, L'a') + L"@.", "URL scheme is not http or https file://",
       false},
      // Every spelling of the scheme: no userinfo kept, no port over 65535 wrapped round.
      {L"HTTP://e2e\\x@127.0.0.1:" + std::to_wstring(server_.port() + 65536) + L"/package.exe",
       "Could not parse URL HTTP://127.0.0.1:", false},
      {L"HTTP://127.0.0.1:" + port + L"\\package.exe", "Could not parse URL", false},
  };
  downloader_->set_allowed_host_suffixes({kProductDomainSuffix, L"127.0.0.1"});
  for (const Case& test : cases) {
    SCOPED_TRACE(test.error);
    int closes = 0;
    EXPECT_FALSE(downloader_->Start(test.url, std::string(), base::Closure(),
                                    std::unique_ptr<ResponseWriter>(new ClosingWriter(&closes)),
                                    std::unique_ptr<DownloadStatsObserver>(
                                        new DownloadStatsObserver)));
    EXPECT_EQ(1, closes);
    EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state());
    const std::string error = downloader_->GetLastErrorText();
    EXPECT_EQ(0u, error.find(test.error)) << error;
    // A server's long address is quoted cut.
    EXPECT_LT(error.size(), kMaxServerTextLength + 100);
    EXPECT_EQ(test.http, WinInetDownloader::IsHttpUrl(test.url));
  }
  EXPECT_EQ(1u, server_.Requests().size());
}

TEST_F(WinInetDownloaderTest, ProxyLoginWithoutAWindowEndsAsCancelled) {
  ASSERT_TRUE(server_.AddFaults("/package.exe", R"([{"status": 407}])"));
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
  EXPECT_EQ(1, ui_.calls());
  EXPECT_NE(std::string::npos, downloader_->GetLastErrorText().find(
                                   "The user cancelled the prompt for proxy credentials"));
  EXPECT_EQ(1, ChunkInteger(0, "proxy_login_needed"));
  EXPECT_EQ(0, ChunkInteger(0, "proxy_login_result"));
}

// The user may take longer than a window over the proxy prompt: the try is not ended
// under it, and nothing is asked again meanwhile.
TEST_F(WinInetDownloaderTest, AProxyPromptOutlastsTheProgressWindow) {
  class SlowUIDelegate : public FetcherUIDelegate {
   public:
    void RunUICallbackAndPostReply(UICallback,
                                   base::scoped_refptr<base::SequencedTaskRunner> reply_runner,
                                   Reply reply) override {
      reply_runner->PostDelayedTask(FROM_HERE, base::Bind([](Reply r) { r.Run(0); }, reply),
                                    base::TimeDelta::FromSeconds(2));
    }
  } slow_ui;
  downloader_.reset(new WinInetDownloader(&slow_ui, &progress_));
  downloader_->SetRetryDelayForTesting(base::TimeDelta::FromMilliseconds(10));
  downloader_->SetProgressWindowForTesting(base::TimeDelta::FromMilliseconds(200));
  ASSERT_TRUE(server_.AddFaults("/package.exe", R"([{"status": 407}])"));
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_FAILED, downloader_->state());
  EXPECT_NE(std::string::npos, downloader_->GetLastErrorText().find(
                                   "The user cancelled the prompt for proxy credentials"));
  EXPECT_EQ(1u, server_.Requests().size());
  downloader_.reset();
}

TEST_F(WinInetDownloaderTest, ConnectionClosedBeforeHeadersIsRetried) {
  const std::string body = MakeBody(700);
  ASSERT_TRUE(server_.ServeFile("/package.exe", body));
  ASSERT_TRUE(server_.AddFaults("/package.exe", R"([{"close": true, "times": 1}])"));
  ASSERT_TRUE(Download(server_.Url("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
      << downloader_->GetLastErrorText();
  EXPECT_TRUE(Downloaded() == body);
}

TEST_F(WinInetDownloaderTest, DownloadsOverIpv6Loopback) {
  if (!server_.ipv6()) GTEST_SKIP() << "no ::1 on this machine";
  const std::string body = MakeBody(900);
  ASSERT_TRUE(server_.ServeFile("/package.exe", body));
  ASSERT_TRUE(Download(server_.Url6("/package.exe")));
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, downloader_->state())
      << downloader_->GetLastErrorText();
  EXPECT_TRUE(Downloaded() == body);
  ASSERT_EQ(1u, server_.Requests().size());
  EXPECT_EQ("server6", server_.Requests()[0].listener);
}

TEST_F(WinInetDownloaderTest, StopRunsNoDoneAndNeverHangs) {
  ASSERT_TRUE(server_.ServeFile("/package.exe", MakeBody(200000)));
  // Stopped at the first progress report, in the middle of the body.
  progress_.on_progress = [this] {
    if (downloader_->state() != WinInetDownloader::STATE_STOPPED) downloader_->Stop();
  };
  base::RunLoop run_loop;
  int done_calls = 0;
  std::unique_ptr<FileResponseWriter> writer(new FileResponseWriter);
  ASSERT_TRUE(writer->Open(Path(L"download.bin")));
  ASSERT_TRUE(downloader_->Start(server_.Url("/package.exe"), std::string(),
                                 base::Bind([](int* calls) { ++*calls; }, &done_calls),
                                 std::move(writer),
                                 std::unique_ptr<DownloadStatsObserver>(new DownloadStatsObserver)));
  // Runs until the stop and then until everything posted so far has run.
  while (downloader_->state() == WinInetDownloader::STATE_REQUEST_SENT ||
         downloader_->state() == WinInetDownloader::STATE_RECEIVING) {
    base::RunLoop step;
    loop_.task_runner()->PostTask(FROM_HERE, step.QuitClosure());
    step.Run();
  }
  EXPECT_EQ(WinInetDownloader::STATE_STOPPED, downloader_->state());
  base::RunLoop idle;
  idle.QuitWhenIdle();
  idle.Run();
  EXPECT_EQ(0, done_calls);
  // Stopped before anything arrived, too; then destroyed with the transfer unfinished.
  ASSERT_TRUE(downloader_->Start(server_.Url("/package.exe"), std::string(),
                                 base::Bind([](int* calls) { ++*calls; }, &done_calls),
                                 std::unique_ptr<ResponseWriter>(new ResponseWriter),
                                 std::unique_ptr<DownloadStatsObserver>(new DownloadStatsObserver)));
  downloader_->Stop();
  downloader_.reset();
  base::RunLoop after;
  after.QuitWhenIdle();
  after.Run();
  EXPECT_EQ(0, done_calls);
}

// Wine reports a closed request's end through the context its handle was made with, also
// after its downloader went away: a downloader made later at the same address must not
// take it for its own.
TEST_F(WinInetDownloaderTest, ALateCallbackOfAGoneDownloaderReachesNoLaterOneAtItsAddress) {
  ASSERT_TRUE(server_.ServeFile("/package.exe", MakeBody(200000)));
  alignas(WinInetDownloader) unsigned char storage[sizeof(WinInetDownloader)];
  WinInetDownloader* gone = new (storage) WinInetDownloader(&ui_, &progress_);
  const DWORD_PTR gone_context = gone->context_for_testing();
  gone->~WinInetDownloader();
  WinInetDownloader* later = new (storage) WinInetDownloader(&ui_, &progress_);
  char stale_address[] = "10.9.8.7";
  progress_.on_progress = [&] {
    WinInetDownloader::DeliverStatusForTesting(gone_context, INTERNET_STATUS_CONNECTED_TO_SERVER,
                                               stale_address, sizeof stale_address);
  };
  std::unique_ptr<FileResponseWriter> writer(new FileResponseWriter);
  ASSERT_TRUE(writer->Open(Path(L"download.bin")));
  base::RunLoop run_loop;
  ASSERT_TRUE(later->Start(server_.Url("/package.exe"), std::string(), run_loop.QuitClosure(),
                           std::move(writer),
                           std::unique_ptr<DownloadStatsObserver>(
                               new ChunkDownloadStatsObserver(root_.Clone(), "download_chunks"))));
  RunWithGuard(&run_loop);
  EXPECT_EQ(WinInetDownloader::STATE_COMPLETED, later->state()) << later->GetLastErrorText();
  later->~WinInetDownloader();
  std::string ip;
  ASSERT_NE(nullptr, Chunk(0));
  EXPECT_TRUE(Chunk(0)->GetString("ip", &ip));
  EXPECT_NE(std::string::npos, ip.find("127.0.0.1")) << ip;
}

}  // namespace
}  // namespace installer
