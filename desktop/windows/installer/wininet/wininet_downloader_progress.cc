#include "desktop/windows/installer/wininet/wininet_downloader.h"

#include <algorithm>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"

// The progress window, the rate a try must keep and the counted retries.
namespace installer {

// static
uint32_t WinInetDownloader::FloorOf(base::TimeDelta length) {
  const int64_t ms = std::max<int64_t>(0, length.InMilliseconds());
  return static_cast<uint32_t>(
      std::min<int64_t>(UINT32_MAX, ms * kMinimumBytesPerSecond / 1000));
}

void WinInetDownloader::StartProgressWindow() {
  base::TimeDelta left = progress_window_;
  const base::TimeTicks now = base::TimeTicks::Now();
  if (redirect_count_ > 0) {
    // A redirect's request goes on in the window of the try's first: a chain of slow
    // redirects must not get a window each.
    left -= now - base::TimeTicks::FromInternalValue(window_start_us_.load());
    left = std::max(left, base::TimeDelta());
  } else {
    window_start_us_ = now.ToInternalValue();
    window_new_bytes_ = 0;
  }
  owner_runner_->PostDelayedTask(FROM_HERE,
                                 base::Bind(&WinInetDownloader::CheckProgressWindow, weak_this_,
                                            ++request_generation_),
                                 left);
}

bool WinInetDownloader::OpenWindowKeptTheRate() const {
  const uint32_t brought = window_new_bytes_.load();
  const base::TimeDelta open =
      base::TimeTicks::Now() - base::TimeTicks::FromInternalValue(window_start_us_.load());
  return brought >= std::max(kProgressFloorBytes, FloorOf(open));
}

void WinInetDownloader::CheckProgressWindow(uint32_t generation) {
  if (!IsInProgress() || generation != request_generation_ || try_ended_) return;
  window_start_us_ = base::TimeTicks::Now().ToInternalValue();
  const uint32_t brought = window_new_bytes_.exchange(0);
  if (brought >= FloorOf(progress_window_)) {
    owner_runner_->PostDelayedTask(FROM_HERE,
                                   base::Bind(&WinInetDownloader::CheckProgressWindow,
                                              weak_this_, generation),
                                   progress_window_);
    return;
  }
  LOG(WARNING) << "Only " << brought << " new bytes came in "
               << progress_window_.InMilliseconds() << " ms, ending the try";
  // Closed first: what WinINet still reports for it is then no longer this transfer's.
  CloseRequest();
  CheckRetriesAndResume(ERROR_INTERNET_TIMEOUT);
}

bool WinInetDownloader::CountProgress(uint32_t bytes) {
  // Checked before adding: the 32-bit count must never wrap round to look short.
  if (bytes > max_body_bytes_ - received_) {
    SetError(base::StringPrintf("Answer longer than %u bytes", max_body_bytes_));
    return false;
  }
  received_ += bytes;
  if (received_ <= furthest_) return true;
  window_new_bytes_ += received_ - furthest_;
  furthest_ = received_;
  return true;
}

void WinInetDownloader::ResumeAfterBreak(uint32_t error) {
  if (!OpenWindowKeptTheRate())
    CheckRetriesAndResume(error);
  else if (EndTry())
    PostToOwner(&WinInetDownloader::ResumeDownload);
}

void WinInetDownloader::CheckRetriesAndResume(uint32_t error) {
  if (!EndTry()) return;
  if (retry_count_ > 1 && progress_delegate_)
    PostProgress(&FetcherDelegate::NotifyStalled, error);
  const int32_t max_retries = body_sent_ && max_retries_once_sent_ >= 0
                                  ? std::min(max_retries_, max_retries_once_sent_)
                                  : max_retries_;
  if (max_retries <= 0 || retry_count_ > max_retries) {
    SetError(base::StringPrintf("Number of retries exceeded, last error: %d",
                                static_cast<int>(error)));
    PostToOwner(&WinInetDownloader::OnDownloadFailed);
    return;
  }
  LOG(INFO) << "Retrying " << retry_count_ << " of " << max_retries;
  ++retry_count_;
  owner_runner_->PostDelayedTask(FROM_HERE,
                                 base::Bind(&WinInetDownloader::ResumeDownload, weak_this_),
                                 retry_delay_);
}

}  // namespace installer
