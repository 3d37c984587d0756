// InstallerStats: the statistics record of one installer run, a JSON tree that the
// front end, the package fetcher and the download observers fill through StatsNode
// handles, and that Send posts to the update server at the end of the run.
//
//   InstallerStats stats(ui_delegate);
//   fetcher->Start(stats.root()->Clone());
//   ...
//   stats.Send(base::Bind(&Controller::OnStatsSent, weak), /*wait_for_network=*/false);
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_STATS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_STATS_H_

#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/synchronization/lock.h"
#include "base/values.h"
#include "desktop/windows/installer/wininet/fetcher_delegate.h"
#include "desktop/windows/installer/statistics/stats_node.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace installer {

// "endpoint_name_hash": the SHA-256 of |user_name| followed by |computer_name| as UTF-16
// little-endian, in hexadecimal; empty when both names are empty.
std::string ComputeEndpointNameHash(const std::wstring& user_name,
                                    const std::wstring& computer_name);

class InstallerStats {
 public:
  // |ui| is required and outlives the record.
  explicit InstallerStats(FetcherUIDelegate* ui);
  ~InstallerStats();
  InstallerStats(const InstallerStats&) = delete;
  InstallerStats& operator=(const InstallerStats&) = delete;

  // The record's root; hand others Clone()s of it.
  StatsNode* root() { return root_node_.get(); }

  // Posts the record as compact JSON to the update server. |done| runs once: at once
  // when false is returned, else when the post has completed or failed. A failure is
  // logged here and ends in |done| too, so a caller may ignore the result.
  bool Send(base::Closure done, bool wait_for_network);
  // The hosts the statistics may go to.
  static std::vector<std::wstring> GetAllowedHostSuffixes();

  // The record as compact JSON with sorted keys; false when it cannot be written.
  [[nodiscard]] bool ToJson(std::string* json);

  // Tests only: the server address in place of the configured "autoupdate" one, and
  // the sending downloader (for its retry delay).
  void SetServerUrlForTesting(const std::wstring& url) { server_url_for_testing_ = url; }
  WinInetDownloader* sender_for_testing() { return sender_.get(); }

 private:
  void AddInitialValues();
  void AddDownloadValues();

  base::Dictionary tree_;
  base::Lock lock_;
  std::unique_ptr<StatsNode> root_node_;
  std::unique_ptr<WinInetDownloader> sender_;
  std::wstring server_url_for_testing_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_STATS_H_
