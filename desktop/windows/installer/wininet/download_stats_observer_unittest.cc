#include "desktop/windows/installer/wininet/download_stats_observer.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "desktop/windows/installer/statistics/stats_node_test_util.h"

namespace installer {
namespace {

class DownloadStatsObserverTest : public ::testing::Test {
 protected:
  std::string Json() { return record_.Json(); }

  testing::TestStatsRecord record_;
  base::Dictionary& tree_ = record_.tree;
  StatsNode& root_ = record_.root;
};

TEST_F(DownloadStatsObserverTest, PrefixedObserverKeepsTheLastResults) {
  PrefixedDownloadStatsObserver observer(root_.Clone(), "fetch_download_url_");
  observer.OnChunkStarted(0);
  observer.OnIpAddress("127.0.0.1");
  observer.OnHttpStatus(407);
  observer.OnProxyLoginNeeded();
  observer.OnProxyLoginResult(12032);
  observer.OnWinInetError(12029);
  observer.OnWinInetError(0);
  observer.OnHttpStatus(200);
  observer.OnChunkEnded(10);
  EXPECT_EQ(
      "{\"fetch_download_url_http_status\":200,\"fetch_download_url_proxy_login_needed\":1,"
      "\"fetch_download_url_proxy_login_result\":12032,\"fetch_download_url_wininet_error\":0}",
      Json());
}

TEST_F(DownloadStatsObserverTest, ChunkObserverRecordsEveryRequestAsOneChunk) {
  ChunkDownloadStatsObserver observer(root_.Clone(), "download_chunks");
  // Nothing to write into before the first chunk.
  observer.OnHttpStatus(200);
  observer.OnChunkEnded(5);
  EXPECT_EQ("{}", Json());

  observer.OnChunkStarted(0);
  observer.OnIpAddress("::1");
  observer.OnWinInetError(0);
  observer.OnHttpStatus(200);
  observer.OnHeader(L"Date", L"Mon, 07 Dec 2026 11:00:00 GMT");
  observer.OnHeader(L"Server", L"");
  observer.OnHeader(L"X-Served-By", L"");
  observer.OnHeader(L"Content-Length", L"100");
  observer.OnChunkEnded(60);
  observer.OnChunkStarted(60);
  observer.OnRetry(1);
  observer.OnRedirected(L"http://localhost/x");
  observer.OnHttpStatus(206);
  observer.OnResponseTooLong(3, 100);
  observer.OnProxyLoginNeeded();
  observer.OnProxyLoginResult(1223);
  observer.OnChunkEnded(103);

  const base::List* chunks = nullptr;
  ASSERT_TRUE(tree_.GetList("download_chunks", &chunks));
  ASSERT_EQ(2u, chunks->size());
  const base::Dictionary* first = nullptr;
  const base::Dictionary* second = nullptr;
  ASSERT_TRUE(chunks->GetDictionary(0, &first));
  ASSERT_TRUE(chunks->GetDictionary(1, &second));
  int number = -1;
  std::string text;
  EXPECT_TRUE(first->GetInteger("chunk_start", &number) && number == 0);
  EXPECT_TRUE(first->GetInteger("chunk_number", &number) && number == 0);
  EXPECT_TRUE(first->GetInteger("chunk_end", &number) && number == 60);
  EXPECT_TRUE(first->GetString("ip", &text) && text == "::1");
  const base::Value* headers = nullptr;
  const base::Dictionary* header_dictionary = nullptr;
  ASSERT_TRUE(first->Get("headers", &headers) && headers->GetAsDictionary(&header_dictionary));
  EXPECT_EQ(4u, header_dictionary->size());
  EXPECT_TRUE(header_dictionary->GetString("Server", &text) && text.empty());
  EXPECT_TRUE(first->GetString("chunk_start_time.time", &text));
  EXPECT_TRUE(first->GetString("chunk_end_time.time", &text));

  EXPECT_TRUE(second->GetInteger("chunk_start", &number) && number == 60);
  EXPECT_TRUE(second->GetInteger("chunk_number", &number) && number == 1);
  EXPECT_TRUE(second->GetInteger("retry_count", &number) && number == 1);
  EXPECT_TRUE(second->GetInteger("http_status", &number) && number == 206);
  EXPECT_TRUE(second->GetInteger("response_too_long", &number) && number == 3);
  EXPECT_TRUE(second->GetInteger("proxy_login_result", &number) && number == 1223);
  EXPECT_TRUE(second->GetString("redirected_url", &text) && text == "http://localhost/x");
  EXPECT_FALSE(second->GetString("ip", &text));

  // Offsets of 2 GiB and more stay the largest value, never negative.
  observer.OnChunkStarted(0x80000000u);
  observer.OnChunkEnded(UINT32_MAX);
  const base::Dictionary* third = nullptr;
  ASSERT_TRUE(chunks->GetDictionary(2, &third));
  EXPECT_TRUE(third->GetInteger("chunk_start", &number) && number == INT32_MAX);
  EXPECT_TRUE(third->GetInteger("chunk_end", &number) && number == INT32_MAX);
}

}  // namespace
}  // namespace installer
