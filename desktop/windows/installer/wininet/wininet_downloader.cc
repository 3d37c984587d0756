#include "desktop/windows/installer/wininet/wininet_downloader.h"

#include <string.h>

#include <algorithm>
#include <map>
#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/statistics/stats_node.h"
#include "desktop/windows/installer/wininet/answer_headers.h"
#include "desktop/windows/installer/wininet/url_parts.h"
#include "desktop/windows/installer/wininet/wininet_termination_thread.h"

namespace installer {

namespace {

const int kRetryDelaySeconds = 6;
// No byte for this long counts as a dropped connection; WinINet's own default does not
// bound the wait everywhere.
const int kReceiveTimeoutSeconds = 60;
// The window in which a try must keep kMinimumBytesPerSecond: a server that trickles a
// byte now and then never trips the receive timeout.
const int kProgressWindowSeconds = 60;
// The longest URL a redirect may name, as WinINet bounds them; also the longest header
// value read, so that no buffer WinINet writes is sized by a server.
const size_t kMaxUrlLength = INTERNET_MAX_URL_LENGTH;
// Redirects one request follows, as the system's own HTTP stack bounds them.
const int kMaxRedirects = 10;
// The flags of InternetErrorDlg for the proxy credentials prompt.
const DWORD kProxyDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS |
                                FLAGS_ERROR_UI_FLAGS_GENERATE_DATA |
                                FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS;
const char* const kReportedHeaders[] = {"Date", "Server", "X-Served-By", "Content-Length"};

bool IsConnectivityError(uint32_t error) {
  switch (error) {
    case ERROR_INTERNET_TIMEOUT:               // 12002
    // Wine reports a receive timeout as the socket's own error.
    case WSAETIMEDOUT:                         // 10060
    case ERROR_INTERNET_NAME_NOT_RESOLVED:     // 12007
    case ERROR_INTERNET_CANNOT_CONNECT:        // 12029
    case ERROR_INTERNET_CONNECTION_ABORTED:    // 12030
    case ERROR_INTERNET_CONNECTION_RESET:      // 12031
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:   // 12152
      return true;
    default:
      return false;
  }
}

const DWORD kHttpPermanentRedirect = 308;
// A body longer than its Content-Length leaves bytes on a kept connection that the next
// request would read as its answer, and the body's length cannot be known beyond that
// header: no request leaves its connection for another.
const wchar_t kCloseConnectionHeader[] = L"Connection: close\r\n";

uint32_t ShowProxyDialog(HINTERNET request, HWND window) {
  return InternetErrorDlg(window, request, ERROR_INTERNET_INCORRECT_PASSWORD, kProxyDialogFlags,
                          nullptr);
}

// The downloaders alive, by the id their WinINet handles carry as context: Wine reports
// the late end of a closed request through the callback and context its handle was made
// with, also after its session stopped listening and its downloader went away. An id is
// never used again, so such a callback never reaches a later downloader made at the freed
// one's address. Never destroyed: callbacks may come until the process ends.
base::Lock& LiveDownloadersLock() {
  static base::Lock* const lock = new base::Lock;
  return *lock;
}

std::map<DWORD_PTR, WinInetDownloader*>& LiveDownloaders() {
  static std::map<DWORD_PTR, WinInetDownloader*>* const live =
      new std::map<DWORD_PTR, WinInetDownloader*>;
  return *live;
}

// The next id; under LiveDownloadersLock.
DWORD_PTR g_last_downloader_id = 0;

}  // namespace

WinInetDownloader::WinInetDownloader(FetcherUIDelegate* ui, FetcherDelegate* progress)
    : termination_event_(base::SyncEvent::MANUAL, base::SyncEvent::NOT_SIGNALED),
      ui_delegate_(ui),
      progress_delegate_(progress),
      retry_delay_(base::TimeDelta::FromSeconds(kRetryDelaySeconds)),
      receive_timeout_(base::TimeDelta::FromSeconds(kReceiveTimeoutSeconds)),
      progress_window_(base::TimeDelta::FromSeconds(kProgressWindowSeconds)),
      weak_factory_(this) {
  CHECK(ui_delegate_) << "WinInetDownloader needs a UI delegate";
  weak_this_ = weak_factory_.GetWeakPtr();
  base::AutoLock hold(LiveDownloadersLock());
  id_ = ++g_last_downloader_id;
  LiveDownloaders()[id_] = this;
}

WinInetDownloader::~WinInetDownloader() {
  if (request_ || connection_.IsValid() || session_.IsValid()) CloseSession();
  if (termination_thread_) {
    termination_thread_->Join();
    termination_thread_.reset();
  }
  {
    base::AutoLock hold(LiveDownloadersLock());
    LiveDownloaders().erase(id_);
  }
  // No callback starts on this downloader any more; those running end soon: they only
  // post to the owner thread.
  while (callbacks_running_.load() > 0) Sleep(1);
  weak_factory_.InvalidateWeakPtrs();
}

bool WinInetDownloader::Start(const std::wstring& url, const std::string& body,
                              base::Closure done, std::unique_ptr<ResponseWriter> writer,
                              std::unique_ptr<DownloadStatsObserver> observer) {
  url_ = UrlWithoutUserinfoAndFragment(url);
  LOG(INFO) << "Starting download from " << BoundServerText(base::WideToUTF8(url_));
  CHECK(writer && observer) << "a download needs a writer and an observer";
  // The previous transfer's last callbacks may still use its writer and observer.
  if (termination_thread_) {
    VLOG(1) << "Waiting for previous WinINET invocation to terminate.";
    termination_thread_->Join();
    termination_thread_.reset();
  }
  {
    base::AutoLock hold(error_lock_);
    error_text_.clear();
  }
  writer_ = std::move(writer);
  observer_ = std::move(observer);
  done_ = std::move(done);
  owner_loop_ = base::MessageLoop::Current();
  CHECK(owner_loop_) << "downloads start on a thread with a message loop";
  owner_runner_ = owner_loop_->task_runner();
  http_status_ = 0;

  ParsedUrl parsed;
  const bool cracked = ParseUrl(url_, &parsed);
  if (!cracked && !BeginsWithOtherScheme(url_)) {
    return Refuse(base::StringPrintf("Could not parse URL %s",
                                     BoundServerText(base::WideToUTF8(url_)).c_str()));
  }
  if (!cracked || !IsHttpScheme(parsed.scheme)) {
    return Refuse(base::StringPrintf("URL scheme is not http or https %s",
                                     BoundServerText(base::WideToUTF8(url_)).c_str()));
  }
  if (!IsHostAllowed(parsed.host))
    return Refuse(base::StringPrintf("Domain disallowed %s", base::WideToUTF8(parsed.host).c_str()));
  expected_size_ = 0;
  received_ = 0;
  furthest_ = 0;
  // A new transfer gets its own retries, also after one that used them all up.
  retry_count_ = 0;
  body_sent_ = false;
  range_start_ = -1;

  const std::wstring user_agent = L"Velum NetInstaller/" + base::UTF8ToWide(GetProductVersion());
  session_.Reset(InternetOpenW(user_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                               nullptr, INTERNET_FLAG_ASYNC));
  if (!session_.IsValid()) {
    return Refuse(base::StringPrintf("InternetOpen failed for %s",
                                     base::WideToUTF8(user_agent).c_str()));
  }
  InternetSetStatusCallbackW(session_.Get(), &WinInetDownloader::InternetStatusCallback);
  SetReceiveTimeout(session_.Get());
  body_ = body;
  connection_.Reset(InternetConnectW(session_.Get(), parsed.host.c_str(), parsed.port, nullptr,
                                    nullptr, INTERNET_SERVICE_HTTP, 0,
                                    id_));
  if (!connection_.IsValid()) {
    SetError(base::StringPrintf("InternetConnect failed for %s:%d",
                                base::WideToUTF8(parsed.host).c_str(), parsed.port));
    CloseSession();
    return false;
  }
  observer_->OnChunkStarted(received_);
  redirect_count_ = 0;
  // The state goes first: WinINet may complete the request before the send returns.
  const State before = state_.load();
  SetState(STATE_REQUEST_SENT);
  if (OpenAndSendRequest(parsed, std::wstring())) return true;
  LOG(ERROR) << "Could not send Request";
  CloseSession();
  // Refused: no transfer began, so none ended either.
  SetState(before);
  return false;
}

void WinInetDownloader::SetReceiveTimeout(HINTERNET handle) {
  DWORD timeout_ms = static_cast<DWORD>(receive_timeout_.InMilliseconds());
  for (DWORD option : {INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT}) {
    if (!InternetSetOptionW(handle, option, &timeout_ms, sizeof(timeout_ms)))
      PLOG(WARNING) << "Could not set the receive timeout " << option;
  }
}

bool WinInetDownloader::Refuse(const std::string& message) {
  SetError(message);
  // The caller may want to delete or reuse what the writer holds open.
  writer_->Close();
  return false;
}

void WinInetDownloader::Stop() {
  LOG(INFO) << "Stopping the download";
  CloseSession();
  SetState(STATE_STOPPED);
}

std::string WinInetDownloader::GetLastErrorText() const {
  base::AutoLock hold(error_lock_);
  return error_text_;
}

// static
bool WinInetDownloader::IsHttpUrl(const std::wstring& url) {
  ParsedUrl parsed;
  // As Start reads it.
  return ParseUrl(UrlWithoutUserinfoAndFragment(url), &parsed) && IsHttpScheme(parsed.scheme);
}

bool WinInetDownloader::IsHostAllowed(const std::wstring& host) const {
  return IsHostAllowedBy(host, allowed_host_suffixes_);
}

bool WinInetDownloader::OpenAndSendRequest(const ParsedUrl& url,
                                           const std::wstring& extra_headers) {
  VLOG(1) << "Opening internet request";
  // Nothing of an earlier request may be taken for this one's body.
  if (read_buffers_.empty() || read_pending_.exchange(false)) {
    read_buffers_.push_back(std::make_unique<ReadBuffer>());
    read_buffer_ = read_buffers_.back().get();
  }
  read_buffer_.load()->bytes_read = 0;
  request_headers_ = extra_headers;
  request_bytes_sent_ = 0;
  try_ended_ = false;
  const bool is_post = !body_.empty();
  // Redirects are followed here, where they can be counted and checked before any
  // request goes to the new address. Nothing downloaded may stay in the user's cache:
  // packages are large, and a refused one must not remain anywhere.
  DWORD flags =
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (url.scheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  request_ = HttpOpenRequestW(connection_.Get(), is_post ? L"POST" : L"GET", url.path.c_str(),
                              L"HTTP/1.1", nullptr, nullptr, flags,
                              id_);
  const std::string where =
      base::StringPrintf("%s:%d%s, scheme %d, payload empty %d",
                         base::WideToUTF8(url.host).c_str(), url.port,
                         base::WideToUTF8(url.path).c_str(), url.scheme, is_post ? 0 : 1);
  if (!request_) {
    SetError("HttpOpenRequest failed for " + where);
    return false;
  }
  // Windows hands the session's timeouts down to its requests; Wine takes them only
  // from the request itself.
  SetReceiveTimeout(request_);
  VLOG(1) << (is_post ? "Sending POST request" : "Sending GET request");
  const std::wstring headers = kCloseConnectionHeader + extra_headers;
  const BOOL sent = HttpSendRequestW(
      request_, headers.c_str(), static_cast<DWORD>(-1),
      is_post ? const_cast<char*>(body_.data()) : nullptr,
      is_post ? static_cast<DWORD>(body_.size()) : 0);
  if (!sent && GetLastError() != ERROR_IO_PENDING) {
    SetError("HttpSendRequest failed for " + where);
    return false;
  }
  StartProgressWindow();
  return true;
}

// static
void CALLBACK WinInetDownloader::InternetStatusCallback(HINTERNET handle, DWORD_PTR context,
                                                        DWORD status, void* info,
                                                        DWORD info_length) {
  VLOG(2) << "InternatStatusCallback called with code " << status;
  WinInetDownloader* self = nullptr;
  {
    base::AutoLock hold(LiveDownloadersLock());
    const auto live = LiveDownloaders().find(context);
    if (live == LiveDownloaders().end()) return;
    self = live->second;
    ++self->callbacks_running_;
  }
  self->OnStatus(handle, status, info, info_length);
  --self->callbacks_running_;
}

void WinInetDownloader::OnStatus(HINTERNET handle, DWORD status, void* info,
                                 DWORD info_length) {
  switch (status) {
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      if (info) {
        const char* text = static_cast<const char*>(info);
        observer_->OnIpAddress(std::string(text, strnlen(text, info_length)));
      }
      break;
    case INTERNET_STATUS_HANDLE_CLOSING:
      OnHandleClosing(handle);
      break;
    case INTERNET_STATUS_REQUEST_SENT:
      if (info && info_length >= sizeof(DWORD) && handle == request_)
        OnRequestSent(*static_cast<DWORD*>(info));
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
      // A request closed early (a try ended for its window) may still complete.
      if (info && handle == request_)
        OnRequestComplete(static_cast<INTERNET_ASYNC_RESULT*>(info)->dwError);
      break;
    default:
      break;
  }
}

void WinInetDownloader::OnHandleClosing(HINTERNET handle) {
  base::AutoLock hold(handle_lock_);
  if (!closing_handle_ || handle != closing_handle_) return;
  VLOG(1) << "Wininet request cancelled. unregistering the callback.";
  InternetSetStatusCallbackW(closing_session_, nullptr);
  closing_handle_ = nullptr;
  termination_event_.Signal();
}

void WinInetDownloader::OnRequestSent(uint32_t bytes) {
  request_bytes_sent_ += bytes;
  // What went out is the headers and then the body: once as much as the body went out,
  // all of it did.
  if (!body_.empty() && request_bytes_sent_ >= body_.size() && !body_sent_.exchange(true))
    VLOG(1) << "The request's body was sent";
}

void WinInetDownloader::OnRequestComplete(uint32_t error) {
  observer_->OnWinInetError(error);
  if (error == 0) {
    VLOG(2) << "Handling request completion";
    const State state = state_.load();
    if (state == STATE_REQUEST_SENT) {
      if (HandleInitialCompletion()) HandleCompletionInProgress();
    } else if (state == STATE_RECEIVING) {
      HandleCompletionInProgress();
    }
  } else if (IsConnectivityError(error)) {
    LOG(WARNING) << "Request completed with an error " << "indicating connectivity issues: "
                 << error;
    // A read that broke off (a timeout too) is resumed at once when it brought new bytes.
    if (state_.load() == STATE_RECEIVING)
      ResumeAfterBreak(error);
    else
      CheckRetriesAndResume(error);
  } else {
    SetError(base::StringPrintf("Request completed with an unexpected error: %d",
                                static_cast<int>(error)));
    PostToOwner(&WinInetDownloader::OnDownloadFailed);
  }
}

void WinInetDownloader::OnRedirect(bool keep_method) {
  VLOG(1) << "Redirect occured";
  const AnswerHeader location = QueryAnswerHeader(request_, L"Location", kMaxUrlLength);
  // An absolute address is followed as given; a relative one is resolved against this
  // request's address here, by our own code. What comes out is bounded as an absolute one
  // is before anything else sees it: only an http(s) text within the bound reaches the
  // cracker.
  std::wstring target;
  if (!location.too_long) {
    target = UrlWithoutUserinfoAndFragment(BeginsWithHttpScheme(location.value)
                                               ? location.value
                                               : CombineUrl(url_, location.value));
  }
  if (location.too_long || target.size() > kMaxUrlLength) {
    SetError(location.too_long
                 ? std::string("Redirect URL is too long, its Location longer than the bound")
                 : base::StringPrintf("Redirect URL is too long, %u characters",
                                      static_cast<unsigned>(target.size())));
    PostToOwner(&WinInetDownloader::OnDownloadFailed);
    return;
  }
  observer_->OnRedirected(target);
  const std::string quoted = BoundServerText(base::WideToUTF8(target));
  ParsedUrl parsed;
  if (++redirect_count_ > kMaxRedirects) {
    SetError(base::StringPrintf("Too many redirects, more than %d, the last to %s", kMaxRedirects,
                                quoted.c_str()));
  } else if (BeginsWithOtherScheme(target)) {
    SetError(base::StringPrintf("Redirect URL scheme is not http or https %s", quoted.c_str()));
  } else if (target.empty() || !ParseUrl(target, &parsed)) {
    SetError(base::StringPrintf("Redirect URL failed to parse %s", quoted.c_str()));
  } else if (!IsHttpScheme(parsed.scheme)) {
    SetError(base::StringPrintf("Redirect URL scheme is not http or https %s", quoted.c_str()));
  } else if (!IsHostAllowed(parsed.host)) {
    SetError(base::StringPrintf("Redirect URL is disallowed %s",
                                base::WideToUTF8(parsed.host).c_str()));
  } else {
    if (EndTry()) {
      owner_runner_->PostTask(FROM_HERE, base::Bind(&WinInetDownloader::FollowRedirect,
                                                    weak_this_, target, keep_method));
    }
    return;
  }
  PostToOwner(&WinInetDownloader::OnDownloadFailed);
}

void WinInetDownloader::FollowRedirect(const std::wstring& target, bool keep_method) {
  if (!IsInProgress()) return;
  CloseRequest();
  ParsedUrl from;
  ParsedUrl to;
  if (!ParseUrl(url_, &from) || !ParseUrl(target, &to)) {
    SetError("Cannot parse URL on redirect");
    OnDownloadFailed();
    return;
  }
  if (to.host != from.host || to.port != from.port) {
    HINTERNET connection = InternetConnectW(session_.Get(), to.host.c_str(), to.port, nullptr,
                                            nullptr, INTERNET_SERVICE_HTTP, 0,
                                            id_);
    if (!connection) {
      SetError(base::StringPrintf("InternetConnect failed for %s:%d",
                                  base::WideToUTF8(to.host).c_str(), to.port));
      OnDownloadFailed();
      return;
    }
    // Its request is closed; the session stays until the transfer ends.
    connection_.Reset(connection);
  }
  // Later requests of this transfer (resumes) go where the redirect pointed.
  url_ = target;
  if (!keep_method) body_.clear();
  if (!OpenAndSendRequest(to, request_headers_)) {
    LOG(ERROR) << "Could not follow the redirect";
    OnDownloadFailed();
  }
}

bool WinInetDownloader::HandleInitialCompletion() {
  LOG(INFO) << "Initial request completion";
  DWORD status = 0;
  bool body_follows = false;
  if (QueryAndReportStatus(&status)) {
    // An answer without a status line: bytes that an earlier answer left beyond its
    // length on a connection Wine kept. Wine keeps no connection after such an answer,
    // so the retry goes out on a fresh one.
    if (!HasHttp1StatusLine(request_)) status = 0;
    switch (status) {
      case HTTP_STATUS_OK:
        body_follows = TakeWholeBody();
        break;
      case HTTP_STATUS_PARTIAL_CONTENT:
        body_follows = TakeContentRange();
        break;
      default:
        HandleAnswerWithoutBody(status);
        return false;
    }
  }
  if (!body_follows) {
    PostToOwner(&WinInetDownloader::OnDownloadFailed);
    return false;
  }
  // No answer gives the retry count back: the transfer's retries bound it as a whole.
  SetState(STATE_RECEIVING);
  return true;
}

bool WinInetDownloader::QueryAndReportStatus(DWORD* status) {
  DWORD size = sizeof(*status);
  if (!HttpQueryInfoW(request_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, status, &size,
                      nullptr)) {
    SetError("Could not obtain HTTP response code");
    return false;
  }
  http_status_ = *status;
  observer_->OnHttpStatus(*status);
  for (const char* name : kReportedHeaders) {
    const std::wstring wide_name = base::UTF8ToWide(name);
    observer_->OnHeader(wide_name,
                        QueryAnswerHeader(request_, wide_name.c_str(), kMaxUrlLength).value);
  }
  return true;
}

bool WinInetDownloader::TakeWholeBody() {
  if (range_start_ > 0 && received_ > 0) {
    // The server ignored the Range header and sends the whole body again.
    LOG(WARNING) << "Resume answered with the whole body, starting over";
    if (const base::Result<> rewound = writer_->Rewind(); !rewound.ok()) {
      SetError(base::StringPrintf("Failed writing the response with error %d",
                                  static_cast<int>(rewound.failure().error)));
      return false;
    }
    received_ = 0;
  }
  DWORD length = 0;
  DWORD size = sizeof(length);
  expected_size_ = 0;
  if (HttpQueryInfoW(request_, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length,
                     &size, nullptr)) {
    if (length > max_body_bytes_) {
      SetError(base::StringPrintf("Answer of %u bytes, longer than %u",
                                  static_cast<unsigned>(length), max_body_bytes_));
      return false;
    }
    expected_size_ = length;
    VLOG(1) << "Expected total size: " << expected_size_;
  } else {
    PLOG(INFO) << "Could not get Content-Length from response";
  }
  PostProgress(&FetcherDelegate::SetTotalProgress, expected_size_);
  return true;
}

void WinInetDownloader::HandleAnswerWithoutBody(DWORD status) {
  switch (status) {
    case HTTP_STATUS_MOVED:
    case HTTP_STATUS_REDIRECT:
    case HTTP_STATUS_REDIRECT_METHOD:
      OnRedirect(false);
      return;
    case HTTP_STATUS_REDIRECT_KEEP_VERB:
    case kHttpPermanentRedirect:
      OnRedirect(true);
      return;
    case HTTP_STATUS_PROXY_AUTH_REQ:
      LOG(WARNING) << "Request completed with a " << "proxy authentication request";
      // The prompt may take its time: no window ends the try meanwhile.
      if (!EndTry()) return;
      observer_->OnProxyLoginNeeded();
      ui_delegate_->RunUICallbackAndPostReply(
          base::Bind(&ShowProxyDialog, request_), owner_runner_,
          base::Bind(&WinInetDownloader::OnProxyLogin, weak_this_));
      return;
    case 0:
      // No status line came: the server closed before answering. Windows reports that
      // as 12152; Wine completes the request without an error.
      LOG(WARNING) << "Request completed with an error " << "indicating connectivity issues: "
                   << ERROR_HTTP_INVALID_SERVER_RESPONSE;
      CheckRetriesAndResume(ERROR_HTTP_INVALID_SERVER_RESPONSE);
      return;
    case HTTP_STATUS_BAD_GATEWAY:
    case HTTP_STATUS_SERVICE_UNAVAIL:
    case HTTP_STATUS_GATEWAY_TIMEOUT:
      LOG(WARNING) << "Download failed with " << status << " error";
      CheckRetriesAndResume(status);
      return;
    default:
      SetError(base::StringPrintf("Request completed with an unexpected HTTP status %d",
                                  static_cast<int>(status)));
      PostToOwner(&WinInetDownloader::OnDownloadFailed);
      return;
  }
}

bool WinInetDownloader::TakeContentRange() {
  const AnswerHeader header = QueryAnswerHeader(request_, L"Content-Range", kMaxUrlLength);
  const std::wstring& range = header.value;
  // Without the header the total of an earlier answer stands.
  if (range.empty() && !header.too_long) return true;
  uint64_t start = 0;
  uint64_t total = expected_size_;
  if (!ParseContentRange(range, &start, &total) || start != received_ ||
      total > max_body_bytes_) {
    SetError(base::StringPrintf("Resume answered with the range %s at offset %u",
                                base::WideToUTF8(range).c_str(), received_));
    return false;
  }
  // The first answer may have been an error that carried no total.
  if (total != expected_size_) {
    expected_size_ = static_cast<uint32_t>(total);
    PostProgress(&FetcherDelegate::SetTotalProgress, expected_size_);
  }
  return true;
}

void WinInetDownloader::HandleCompletionInProgress() {
  VLOG(2) << "Additional data downloaded";
  const HINTERNET request = request_;
  read_pending_ = false;
  ReadBuffer* const buffer = read_buffer_.load();
  DWORD& bytes_read = buffer->bytes_read;
  for (;;) {
    if (bytes_read > 0) {
      if (const base::Result<> written = writer_->Write(buffer->data, bytes_read);
          !written.ok()) {
        SetError(base::StringPrintf("Failed writing the response with error %d",
                                    static_cast<int>(written.failure().error)));
        PostToOwner(&WinInetDownloader::OnDownloadFailed);
        return;
      }
      if (!CountProgress(bytes_read)) {
        PostToOwner(&WinInetDownloader::OnDownloadFailed);
        return;
      }
      VLOG(2) << "Downloaded size: " << received_;
      PostProgress(&FetcherDelegate::SetCurrentProgress, received_);
    }
    // Written: a failed read below must not leave these bytes to be written again.
    bytes_read = 0;
    // The body ends where its length says: Wine hands over bytes that follow it on a
    // kept connection, and then waits for more that never come.
    DWORD wanted = sizeof(buffer->data);
    if (expected_size_ > 0) {
      if (received_ >= expected_size_) {
        PostToOwner(&WinInetDownloader::OnDownloadCompleted);
        return;
      }
      wanted = std::min<DWORD>(wanted, expected_size_ - received_);
    }
    // Raised first: the owner may close the request while the read is in flight.
    read_pending_ = true;
    if (!InternetReadFile(request, buffer->data, wanted, &bytes_read)) break;
    read_pending_ = false;
    if (bytes_read == 0) {
      VLOG(1) << "Done reading from Internet";
      if (received_ < expected_size_) {
        LOG(WARNING) << "Download completed, but we are below response size";
        // Under Wine a connection closed early ends the body cleanly instead of 12030.
        ResumeAfterBreak(ERROR_INTERNET_CONNECTION_ABORTED);
        return;
      }
      if (received_ > expected_size_)
        observer_->OnResponseTooLong(received_ - expected_size_, expected_size_);
      PostToOwner(&WinInetDownloader::OnDownloadCompleted);
      return;
    }
  }
  const DWORD error = GetLastError();
  if (error != ERROR_IO_PENDING) read_pending_ = false;
  // The owner thread ended the try meanwhile and took it up itself.
  if (!request || request != request_) return;
  switch (error) {
    case ERROR_IO_PENDING:
      VLOG(2) << "More data pending";
      break;
    case ERROR_INTERNET_OPERATION_CANCELLED:
      break;
    case ERROR_INTERNET_TIMEOUT:
    case WSAETIMEDOUT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
      LOG(ERROR) << "Download interrupted by loss of connectivity: " << error;
      ResumeAfterBreak(error);
      break;
    default:
      SetError(base::StringPrintf("Download interrupted for unknown reason: %d",
                                  static_cast<int>(error)));
      PostToOwner(&WinInetDownloader::OnDownloadFailed);
      break;
  }
}

void WinInetDownloader::ResumeDownload() {
  // A resume that was posted before a stop or the end has nothing left to resume.
  if (!IsInProgress()) return;
  observer_->OnChunkEnded(received_);
  CloseRequest();
  LOG(INFO) << "Attempting download resume";
  const std::wstring range = L"Range: bytes=" + std::to_wstring(received_) + L"-";
  ParsedUrl parsed;
  if (!ParseUrl(url_, &parsed)) {
    SetError(base::StringPrintf("Cannot parse URL on resume %s",
                                BoundServerText(base::WideToUTF8(url_)).c_str()));
    OnDownloadFailed();
    return;
  }
  if (retry_count_ <= 1) observer_->OnChunkStarted(received_);
  observer_->OnRetry(static_cast<uint32_t>(retry_count_));
  range_start_ = received_;
  redirect_count_ = 0;
  SetState(STATE_REQUEST_SENT);
  if (!OpenAndSendRequest(parsed, range)) {
    LOG(ERROR) << "Could not resume downloading";
    OnDownloadFailed();
  }
}

void WinInetDownloader::OnProxyLogin(uint32_t result) {
  if (!IsInProgress()) return;
  observer_->OnProxyLoginResult(result);
  if (result == ERROR_INTERNET_FORCE_RETRY) {
    LOG(INFO) << "Logged in to proxy - resuming download";
    ResumeDownload();
    return;
  }
  if (result == 0 || result == ERROR_CANCELLED)
    SetError("The user cancelled the prompt for proxy credentials");
  else
    SetError("Failed to obtain credentials for proxy");
  OnDownloadFailed();
}

void WinInetDownloader::OnDownloadCompleted() {
  if (!IsInProgress()) return;
  retry_count_ = 0;
  CloseSession();
  LOG(INFO) << "Download completed";
  SetState(STATE_COMPLETED);
  RunDone();
}

void WinInetDownloader::OnDownloadFailed() {
  // Only the first end of a transfer counts; after Stop nothing runs.
  if (!IsInProgress()) return;
  LOG(ERROR) << "Download failed";
  CloseSession();
  SetState(STATE_FAILED);
  RunDone();
}

void WinInetDownloader::RunDone() {
  // done may destroy this downloader.
  base::Closure done = done_;
  if (done) done.Run();
}

bool WinInetDownloader::IsInProgress() const {
  const State state = state_.load();
  return state == STATE_REQUEST_SENT || state == STATE_RECEIVING;
}

void WinInetDownloader::CloseRequest() {
  // A refused redirect closes the request on WinINet's thread: exactly one closer wins.
  // Closing it aborts what WinINet still does for it.
  base::ScopedInternetHandle request(
      static_cast<HINTERNET>(InterlockedExchangePointer(&request_, nullptr)));
  request.Reset();
}

void WinInetDownloader::CloseSession() {
  VLOG(1) << "Closing download session";
  if (observer_) observer_->OnChunkEnded(received_);
  if (writer_) writer_->Close();
  CloseRequest();
  if (connection_.IsValid()) {
    if (termination_thread_) {
      termination_thread_->Join();
      termination_thread_.reset();
    }
    base::ScopedInternetHandle connection = std::move(connection_);
    {
      base::AutoLock hold(handle_lock_);
      closing_handle_ = connection.Get();
      closing_session_ = session_.Get();
    }
    // Closed here, not at the end of the scope, and not under the handle lock: the
    // closing callback, which takes it, may run inside, and the close is what aborts the
    // transfer's pending work.
    connection.Reset();
    termination_thread_.reset(
        new WinInetTerminationThread(&termination_event_, std::move(session_)));
    if (!termination_thread_->Start()) {
      LOG(ERROR) << "Could not start the WinINet termination thread";
      termination_thread_.reset();
    }
  } else if (session_.IsValid() && !termination_thread_) {
    session_.Reset();
  }
}

void WinInetDownloader::SetState(State state) {
  state_.store(state);
  VLOG(1) << "Downloader state: " << state;
}

void WinInetDownloader::SetError(const std::string& message) {
  PLOG(ERROR) << message;
  base::AutoLock hold(error_lock_);
  error_text_ += message + "\n";
}

void WinInetDownloader::PostToOwner(void (WinInetDownloader::*method)()) {
  owner_runner_->PostTask(FROM_HERE, base::Bind(method, weak_this_));
}

void WinInetDownloader::PostProgress(void (FetcherDelegate::*report)(uint32_t),
                                     uint32_t value) {
  if (!progress_delegate_) return;
  owner_runner_->PostTask(FROM_HERE,
                          base::Bind(&WinInetDownloader::ReportProgress, weak_this_, report,
                                     value));
}

void WinInetDownloader::ReportProgress(void (FetcherDelegate::*report)(uint32_t),
                                       uint32_t value) {
  (progress_delegate_->*report)(value);
}

}  // namespace installer
