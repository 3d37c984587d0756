#include "desktop/windows/installer/wininet/download_stats_observer.h"

#include <utility>

#include "base/strings/utf_string_conversions.h"

namespace installer {

PrefixedDownloadStatsObserver::PrefixedDownloadStatsObserver(std::unique_ptr<StatsNode> node,
                                                             const std::string& prefix)
    : node_(std::move(node)), prefix_(prefix) {}

void PrefixedDownloadStatsObserver::OnWinInetError(uint32_t error) {
  node_->SetInteger(prefix_ + "wininet_error", static_cast<int32_t>(error));
}

void PrefixedDownloadStatsObserver::OnHttpStatus(uint32_t status) {
  node_->SetInteger(prefix_ + "http_status", static_cast<int32_t>(status));
}

void PrefixedDownloadStatsObserver::OnProxyLoginNeeded() {
  node_->SetInteger(prefix_ + "proxy_login_needed", 1);
}

void PrefixedDownloadStatsObserver::OnProxyLoginResult(uint32_t result) {
  node_->SetInteger(prefix_ + "proxy_login_result", static_cast<int32_t>(result));
}

ChunkDownloadStatsObserver::ChunkDownloadStatsObserver(std::unique_ptr<StatsNode> parent,
                                                       const std::string& list_key)
    : parent_(std::move(parent)), list_key_(list_key) {}

void ChunkDownloadStatsObserver::SetInteger(const std::string& key, uint32_t value) {
  // Byte counts of 2 GiB and more among them stay the largest value, never negative.
  if (chunk_) chunk_->SetInteger(key, SaturatedByteCount(value));
}

void ChunkDownloadStatsObserver::SetString(const std::string& key, const std::string& value) {
  if (chunk_) chunk_->SetString(key, value);
}

void ChunkDownloadStatsObserver::OnChunkStarted(uint32_t offset) {
  chunk_ = parent_->AppendDictionaryToList(list_key_);
  chunk_->SetInteger("chunk_start", SaturatedByteCount(offset));
  chunk_->SetInteger("chunk_number", chunk_counter_);
  chunk_->SetTimeAndElapsed("chunk_start_time");
}

void ChunkDownloadStatsObserver::OnIpAddress(const std::string& address) {
  SetString("ip", address);
}

void ChunkDownloadStatsObserver::OnRedirected(const std::wstring& url) {
  SetString("redirected_url", BoundServerText(base::WideToUTF8(url)));
}

void ChunkDownloadStatsObserver::OnHeader(const std::wstring& name, const std::wstring& value) {
  SetString("headers." + base::WideToUTF8(name), BoundServerText(base::WideToUTF8(value)));
}

void ChunkDownloadStatsObserver::OnWinInetError(uint32_t error) {
  SetInteger("wininet_error", error);
}

void ChunkDownloadStatsObserver::OnHttpStatus(uint32_t status) {
  SetInteger("http_status", status);
}

void ChunkDownloadStatsObserver::OnRetry(uint32_t retry_count) {
  SetInteger("retry_count", retry_count);
}

void ChunkDownloadStatsObserver::OnChunkEnded(uint32_t received) {
  if (!chunk_) return;
  chunk_->SetInteger("chunk_end", SaturatedByteCount(received));
  chunk_->SetTimeAndElapsed("chunk_end_time");
  ++chunk_counter_;
}

void ChunkDownloadStatsObserver::OnResponseTooLong(uint32_t excess, uint32_t /*expected*/) {
  SetInteger("response_too_long", excess);
}

void ChunkDownloadStatsObserver::OnProxyLoginNeeded() {
  SetInteger("proxy_login_needed", 1);
}

void ChunkDownloadStatsObserver::OnProxyLoginResult(uint32_t result) {
  SetInteger("proxy_login_result", result);
}

}  // namespace installer
