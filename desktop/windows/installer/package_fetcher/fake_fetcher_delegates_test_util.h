// Test doubles of the fetcher's delegates: a front end without a window, and a progress
// delegate that keeps what it was told.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FAKE_FETCHER_DELEGATES_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FAKE_FETCHER_DELEGATES_TEST_UTIL_H_

#include <stdint.h>

#include <functional>
#include <vector>

#include "desktop/windows/installer/wininet/fetcher_delegate.h"

namespace installer {
namespace testing {

// Posts every reply with 0 and shows nothing, as a front end without a window does.
class NoWindowUIDelegate : public FetcherUIDelegate {
 public:
  void RunUICallbackAndPostReply(UICallback ui_callback,
                                 base::scoped_refptr<base::SequencedTaskRunner> reply_runner,
                                 Reply reply) override;

  int calls() const { return calls_; }

 private:
  int calls_ = 0;
};

class RecordingFetcherDelegate : public FetcherDelegate {
 public:
  void SetTotalProgress(uint32_t total) override { totals.push_back(total); }
  void SetCurrentProgress(uint32_t current) override;
  void NotifyStalled(uint32_t error) override { stalls.push_back(error); }
  void NotifyStatusChanged(int status) override { statuses.push_back(status); }

  std::vector<uint32_t> totals;
  uint32_t current = 0;
  std::vector<uint32_t> stalls;
  std::vector<int> statuses;
  // Runs after every current-progress report.
  std::function<void()> on_progress;
};

}  // namespace testing
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FAKE_FETCHER_DELEGATES_TEST_UTIL_H_
