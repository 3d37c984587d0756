// WinInetDownloader: fetches one HTTP(S) resource at a time through asynchronous WinINet:
// a GET, or a POST when a body is given. It streams the body into a ResponseWriter,
// reports every network event to a DownloadStatsObserver, reports progress and stalls to
// an optional FetcherDelegate, asks for proxy credentials through the FetcherUIDelegate,
// resumes a broken transfer with a Range request, retries connectivity failures and
// 502/503/504 answers, ends a try that brings new bytes below a rate as such a failure, refuses hosts outside its allow-list, requests and reports URLs without
// userinfo and fragment, and runs its done callback once when the transfer has completed
// or failed (never after Stop).
//
//   WinInetDownloader downloader(ui_delegate, progress_delegate);
//   downloader.set_allowed_host_suffixes({L".example.com"});
//   if (!downloader.Start(url, std::string(), done, std::move(writer), std::move(observer)))
//     LOG(ERROR) << downloader.GetLastErrorText();
//   // ... done runs on this thread's message loop; then read downloader.state().
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_DOWNLOADER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_DOWNLOADER_H_

#include <windows.h>

#include <wininet.h>
#include <stdint.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/memory/weak_ptr.h"
#include "base/message_loop/message_loop.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/sync_event.h"
#include "base/time/time.h"
#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/wininet/fetcher_delegate.h"
#include "desktop/windows/installer/wininet/download_stats_observer.h"
#include "desktop/windows/installer/wininet/response_writer.h"
#include "desktop/windows/installer/wininet/url_parts.h"

namespace installer {

class WinInetTerminationThread;

class WinInetDownloader {
 public:
  enum State : int32_t {
    STATE_IDLE = 0,
    STATE_REQUEST_SENT = 1,
    STATE_RECEIVING = 2,
    STATE_STOPPED = 3,
    STATE_FAILED = 4,
    STATE_COMPLETED = 5,
  };

  // |ui| is required; |progress| may be null. Both outlive the downloader.
  WinInetDownloader(FetcherUIDelegate* ui, FetcherDelegate* progress);
  ~WinInetDownloader();
  WinInetDownloader(const WinInetDownloader&) = delete;
  WinInetDownloader& operator=(const WinInetDownloader&) = delete;

  // Starts the transfer from the calling thread, whose message loop then runs |done|.
  // False, without a done call, when it cannot start (the reason is in the error text).
  [[nodiscard]] bool Start(const std::wstring& url, const std::string& body, base::Closure done,
             std::unique_ptr<ResponseWriter> writer,
             std::unique_ptr<DownloadStatsObserver> observer);
  // Abandons the transfer without running done.
  void Stop();
  std::string GetLastErrorText() const;
  // Whether |url| is an http or https URL that a download can start from.
  static bool IsHttpUrl(const std::wstring& url);

  State state() const { return state_.load(); }
  // Of the last transfer, read on the owner thread once done ran: the body bytes
  // received, the last HTTP status (0 before one came) and the retries counted.
  uint32_t received() const { return received_; }
  uint32_t http_status() const { return http_status_; }
  int32_t retry_count() const { return retry_count_; }
  // Empty allows every host; otherwise the host must end with one of the suffixes.
  void set_allowed_host_suffixes(const std::vector<std::wstring>& suffixes) {
    allowed_host_suffixes_ = suffixes;
  }
  // 0 turns counted retries off: the first connectivity failure, 502-504 or try below the
  // rate ends the transfer. N > 0 lets a transfer retry N + 1 such failures, since the
  // count is compared before it is raised; progress does not give them back, so that a
  // server that answers a little and then stalls cannot hold the transfer without end.
  void set_max_retries(int32_t max_retries) { max_retries_ = max_retries; }
  // What a new downloader allows: about an hour of a server that answers 503 at once.
  static constexpr int32_t kDefaultMaxRetries = 600;
  int32_t max_retries() const { return max_retries_; }
  // A POST's own bound, taken once its body was wholly sent: the server has it then, and
  // asking again mostly repeats it. Negative (the default) keeps max_retries.
  void set_max_retries_once_sent(int32_t max_retries) { max_retries_once_sent_ = max_retries; }
  // The longest body a transfer takes, so that a small answer cannot be stretched without
  // end at the rate a try must keep; a longer one fails the transfer at once. Without it,
  // the 32-bit count bounds it.
  void set_max_body_bytes(uint32_t bytes) { max_body_bytes_ = bytes; }
  // Tests only: the wait before a counted retry, six seconds otherwise.
  void SetRetryDelayForTesting(base::TimeDelta delay) { retry_delay_ = delay; }
  // Tests only: how long a transfer waits for a byte, a minute otherwise; taken by Start.
  void SetReceiveTimeoutForTesting(base::TimeDelta timeout) { receive_timeout_ = timeout; }
  // Tests only: the window in which a try must keep kMinimumBytesPerSecond, a minute
  // otherwise.
  void SetProgressWindowForTesting(base::TimeDelta window) { progress_window_ = window; }
  // Tests only: the context this downloader's WinINet handles carry, and a status
  // delivered as WinINet delivers it.
  DWORD_PTR context_for_testing() const { return id_; }
  static void DeliverStatusForTesting(DWORD_PTR context, DWORD status, void* info,
                                      DWORD info_length) {
    InternetStatusCallback(nullptr, context, status, info, info_length);
  }

  // The rate of new body bytes a try must keep: a window, which runs from the send, that
  // brings fewer than this rate times its length ends the try as a counted failure, and a
  // try that breaks off is taken up again at once, uncounted, only when its open window
  // kept the rate so far and brought kProgressFloorBytes, which also bounds the requests
  // of a transfer. Header bytes and bytes an earlier try brought are no progress.
  static constexpr uint32_t kMinimumBytesPerSecond = 1024;
  static constexpr uint32_t kProgressFloorBytes = 1024;
  // The new bytes a window of |length| must bring.
  static uint32_t FloorOf(base::TimeDelta length);

 private:
  static void CALLBACK InternetStatusCallback(HINTERNET handle, DWORD_PTR context,
                                              DWORD status, void* info, DWORD info_length);

  // The status callback's work, while this downloader is alive.
  void OnStatus(HINTERNET handle, DWORD status, void* info, DWORD info_length);
  bool IsHostAllowed(const std::wstring& host) const;
  // A start that cannot go on: logs |message|, closes the writer, false.
  [[nodiscard]] bool Refuse(const std::string& message);
  // No byte for the receive timeout counts as a dropped connection.
  void SetReceiveTimeout(HINTERNET handle);
  [[nodiscard]] bool OpenAndSendRequest(const ParsedUrl& url, const std::wstring& extra_headers);
  void OnRequestComplete(uint32_t error);
  // INTERNET_STATUS_REQUEST_SENT: |bytes| more of the request went out.
  void OnRequestSent(uint32_t bytes);
  // Adds |bytes| written to the body and counts the try's new bytes (|received_| went
  // beyond |furthest_|); false, with the error set, once the body would be longer than
  // the transfer takes.
  [[nodiscard]] bool CountProgress(uint32_t bytes);
  // Whether the open window brought kProgressFloorBytes new bytes, at
  // kMinimumBytesPerSecond until now.
  bool OpenWindowKeptTheRate() const;
  // Arms the progress window of the request just sent.
  void StartProgressWindow();
  void CheckProgressWindow(uint32_t generation);
  // Ends the current try once: false when another path (a thread of WinINet's, or the
  // window) ended it first and took it up.
  bool EndTry() { return !try_ended_.exchange(true); }
  // A 3xx answer: checks its Location and follows it on the owner thread, or fails.
  void OnRedirect(bool keep_method);
  void FollowRedirect(const std::wstring& target, bool keep_method);
  void OnHandleClosing(HINTERNET handle);
  // The first completion of a request: true when a body follows that is to be read.
  [[nodiscard]] bool HandleInitialCompletion();
  // Reads the status and reports it and the reported headers; false when there is none.
  [[nodiscard]] bool QueryAndReportStatus(DWORD* status);
  // A 200: starts over when a resume was answered with the whole body; false when the
  // writer cannot.
  [[nodiscard]] bool TakeWholeBody();
  // Every status but 200 and 206: follows, retries, asks for proxy credentials or fails.
  void HandleAnswerWithoutBody(DWORD status);
  void HandleCompletionInProgress();
  // An answer that broke off: resumed at once when its open window kept the rate,
  // otherwise a counted failure, so that a server that keeps cutting its answers short or
  // stalling them is not asked again without end.
  void ResumeAfterBreak(uint32_t error);
  // Content-Range of a 206: false when it does not continue where this transfer stopped.
  [[nodiscard]] bool TakeContentRange();
  void CheckRetriesAndResume(uint32_t error);
  void ResumeDownload();
  void OnProxyLogin(uint32_t result);
  void OnDownloadCompleted();
  void OnDownloadFailed();
  void RunDone();
  // In state 1 or 2: a transfer whose end has not been reported yet.
  bool IsInProgress() const;
  void CloseSession();
  void CloseRequest();
  void SetState(State state);
  void SetError(const std::string& message);

  // Posting to the owner loop, weakly bound.
  void PostToOwner(void (WinInetDownloader::*method)());
  void PostProgress(void (FetcherDelegate::*report)(uint32_t), uint32_t value);
  void ReportProgress(void (FetcherDelegate::*report)(uint32_t), uint32_t value);

  std::atomic<State> state_{STATE_IDLE};
  base::ScopedInternetHandle session_;
  base::ScopedInternetHandle connection_;
  // The connection being closed, watched by the status callback; under handle_lock_.
  HINTERNET closing_handle_ = nullptr;
  HINTERNET closing_session_ = nullptr;
  // Taken out by whichever thread closes it first (CloseRequest), so it is a plain value
  // here and owned only by the closer.
  HINTERNET request_ = nullptr;
  std::wstring url_;
  std::string body_;
  std::vector<std::wstring> allowed_host_suffixes_;
  std::unique_ptr<ResponseWriter> writer_;
  std::unique_ptr<DownloadStatsObserver> observer_;
  uint32_t expected_size_ = 0;
  // What a read fills. Wine completes the read of a request closed meanwhile later, into
  // the buffer it was given: a request closed with a read pending leaves its buffer here
  // (one per counted try at most) and the next request gets a new one.
  struct ReadBuffer {
    char data[1024];
    DWORD bytes_read = 0;
  };
  std::vector<std::unique_ptr<ReadBuffer>> read_buffers_;
  std::atomic<ReadBuffer*> read_buffer_{nullptr};
  std::atomic<bool> read_pending_{false};
  uint32_t received_ = 0;
  uint32_t http_status_ = 0;
  // The most body bytes this transfer has held (an answer to a Range request that was
  // ignored starts again from 0, and brings nothing new until it passes them).
  uint32_t furthest_ = 0;
  // The new bytes of the current window and when it opened (counted on WinINet's threads,
  // checked on the owner's too).
  std::atomic<uint32_t> window_new_bytes_{0};
  std::atomic<int64_t> window_start_us_{0};
  // Raised by every request sent, on the owner thread, so a window outlives none.
  uint32_t request_generation_ = 0;
  // Request bytes sent for the current request, and whether a POST's body went out whole
  // in any try of the transfer.
  uint32_t request_bytes_sent_ = 0;
  std::atomic<bool> body_sent_{false};
  std::atomic<bool> try_ended_{false};
  // Status callbacks running on this downloader; its destructor waits for them.
  std::atomic<int> callbacks_running_{0};
  // The context its WinINet handles carry: this downloader's alone, never reused.
  DWORD_PTR id_ = 0;
  // The offset the current request asked for with a Range header; -1 without one.
  int64_t range_start_ = -1;
  // Redirects followed since the transfer or its last resume sent a request.
  int redirect_count_ = 0;
  // The extra headers of the current request, sent again to a redirect's target.
  std::wstring request_headers_;
  base::MessageLoop* owner_loop_ = nullptr;
  base::scoped_refptr<base::SequencedTaskRunner> owner_runner_;
  base::SyncEvent termination_event_;
  std::unique_ptr<WinInetTerminationThread> termination_thread_;
  FetcherUIDelegate* const ui_delegate_;
  FetcherDelegate* const progress_delegate_;
  base::Closure done_;
  mutable base::Lock error_lock_;
  base::Lock handle_lock_;
  std::string error_text_;
  int32_t retry_count_ = 0;
  int32_t max_retries_ = kDefaultMaxRetries;
  int32_t max_retries_once_sent_ = -1;
  uint32_t max_body_bytes_ = UINT32_MAX;
  base::TimeDelta retry_delay_;
  base::TimeDelta receive_timeout_;
  base::TimeDelta progress_window_;
  // Made once on the owner thread; copies go to WinINet's threads.
  base::WeakPtr<WinInetDownloader> weak_this_;
  base::WeakPtrFactory<WinInetDownloader> weak_factory_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_DOWNLOADER_H_
