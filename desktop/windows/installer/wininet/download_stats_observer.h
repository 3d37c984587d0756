// What a download records about itself: the base observer ignores every event,
// PrefixedDownloadStatsObserver keeps a few results under a key prefix in one node, and
// ChunkDownloadStatsObserver keeps every request of a download as one dictionary in a
// list. The downloader calls its observer from WinINet's threads and its own, one call at
// a time.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_STATS_OBSERVER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_STATS_OBSERVER_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "desktop/windows/installer/statistics/stats_node.h"

namespace installer {

class DownloadStatsObserver {
 public:
  DownloadStatsObserver() = default;
  DownloadStatsObserver(const DownloadStatsObserver&) = delete;
  DownloadStatsObserver& operator=(const DownloadStatsObserver&) = delete;
  virtual ~DownloadStatsObserver() = default;

  // A request for the body from |offset| on is about to be sent.
  virtual void OnChunkStarted(uint32_t /*offset*/) {}
  virtual void OnIpAddress(const std::string& /*address*/) {}
  virtual void OnRedirected(const std::wstring& /*url*/) {}
  virtual void OnHeader(const std::wstring& /*name*/, const std::wstring& /*value*/) {}
  // The error of a completed WinINet request, 0 for success.
  virtual void OnWinInetError(uint32_t /*error*/) {}
  virtual void OnHttpStatus(uint32_t /*status*/) {}
  virtual void OnRetry(uint32_t /*retry_count*/) {}
  // The request ended with |received| body bytes in all.
  virtual void OnChunkEnded(uint32_t /*received*/) {}
  virtual void OnResponseTooLong(uint32_t /*excess*/, uint32_t /*expected*/) {}
  virtual void OnProxyLoginNeeded() {}
  virtual void OnProxyLoginResult(uint32_t /*result*/) {}
};

class PrefixedDownloadStatsObserver : public DownloadStatsObserver {
 public:
  PrefixedDownloadStatsObserver(std::unique_ptr<StatsNode> node, const std::string& prefix);

  void OnWinInetError(uint32_t error) override;
  void OnHttpStatus(uint32_t status) override;
  void OnProxyLoginNeeded() override;
  void OnProxyLoginResult(uint32_t result) override;

 private:
  const std::unique_ptr<StatsNode> node_;
  const std::string prefix_;
};

class ChunkDownloadStatsObserver : public DownloadStatsObserver {
 public:
  // Chunks are appended to the list |list_key| of |parent|.
  ChunkDownloadStatsObserver(std::unique_ptr<StatsNode> parent, const std::string& list_key);

  void OnChunkStarted(uint32_t offset) override;
  void OnIpAddress(const std::string& address) override;
  void OnRedirected(const std::wstring& url) override;
  void OnHeader(const std::wstring& name, const std::wstring& value) override;
  void OnWinInetError(uint32_t error) override;
  void OnHttpStatus(uint32_t status) override;
  void OnRetry(uint32_t retry_count) override;
  void OnChunkEnded(uint32_t received) override;
  void OnResponseTooLong(uint32_t excess, uint32_t expected) override;
  void OnProxyLoginNeeded() override;
  void OnProxyLoginResult(uint32_t result) override;

 private:
  // Events before the first chunk have nowhere to go and are dropped.
  void SetInteger(const std::string& key, uint32_t value);
  void SetString(const std::string& key, const std::string& value);

  const std::unique_ptr<StatsNode> parent_;
  std::unique_ptr<StatsNode> chunk_;
  const std::string list_key_;
  int32_t chunk_counter_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_STATS_OBSERVER_H_
