#include "crash/util/http_transport_win.h"

#include <windows.h>
#include <winhttp.h>

#include <stdint.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/sync_event.h"
#include "base/time/time.h"
#include "base/win/scoped_generic.h"
#include "crash/util/module_version.h"

namespace crash_reporter {

namespace {

constexpr size_t kBodyBufferSize = 32768;
constexpr size_t kResponseBufferSize = 4096;
// The longest answer body read; a collector answers with a word or two.
constexpr size_t kMaxResponseBytes = 64 * 1024;

std::string FormatVersion(DWORD most_significant, DWORD least_significant) {
  return base::StringPrintf("%u.%u.%u.%u", static_cast<unsigned>(HIWORD(most_significant)),
                            static_cast<unsigned>(LOWORD(most_significant)),
                            static_cast<unsigned>(HIWORD(least_significant)),
                            static_cast<unsigned>(LOWORD(least_significant)));
}

[[nodiscard]] bool WriteAll(HINTERNET request, const std::string& data) {
  DWORD written = 0;
  if (!WinHttpWriteData(request, data.data(), static_cast<DWORD>(data.size()), &written)) {
    LOG(ERROR) << FormatWinHttpError("WinHttpWriteData");
    return false;
  }
  if (written != data.size()) {
    // The call succeeded: whatever the last error holds belongs to something else.
    LOG(ERROR) << "WinHttpWriteData: wrote " << written << " of " << data.size() << " bytes";
    return false;
  }
  return true;
}

// Adds every header but Content-Length, whose value WinHTTP takes with the send instead
// (|sized| then set); without it the body goes chunked.
[[nodiscard]] bool AddRequestHeaders(HINTERNET request, const HttpTransport::Headers& headers,
                                     bool* sized, uint64_t* content_length) {
  *sized = false;
  *content_length = 0;
  for (const auto& header : headers) {
    if (header.first == "Content-Length") {
      *sized = base::StringToUint64(header.second, content_length);
      continue;
    }
    const std::wstring line = base::UTF8ToWide(header.first + ": " + header.second + "\r\n");
    if (!WinHttpAddRequestHeaders(request, line.c_str(), static_cast<DWORD>(line.size()),
                                  WINHTTP_ADDREQ_FLAG_ADD)) {
      LOG(ERROR) << FormatWinHttpError("WinHttpAddRequestHeaders");
      return false;
    }
  }
  if (*sized && *content_length > 0xFFFFFFFFu) {
    // WinHTTP takes a 32-bit total: announcing a wrapped length and writing more would
    // corrupt the request.
    LOG(ERROR) << "Content-Length " << *content_length << " too large";
    return false;
  }
  if (!*sized) {
    const wchar_t kChunked[] = L"Transfer-Encoding: chunked\r\n";
    if (!WinHttpAddRequestHeaders(request, kChunked, ARRAYSIZE(kChunked) - 1,
                                  WINHTTP_ADDREQ_FLAG_ADD)) {
      LOG(ERROR) << FormatWinHttpError("WinHttpAddRequestHeaders");
      return false;
    }
  }
  return true;
}

// Writes the body as it is (|sized|, exactly |content_length| bytes) or in chunks ending
// with the empty one. A sized body that comes out longer or shorter than announced fails:
// the server would take a cut or overlong request for whole.
[[nodiscard]] bool WriteBody(HINTERNET request, HttpBodyStream* body, bool sized,
                             uint64_t content_length) {
  if (!body) return sized ? content_length == 0 : WriteAll(request, FrameChunk(nullptr, 0));
  std::vector<uint8_t> buffer(kBodyBufferSize);
  uint64_t sent = 0;
  for (;;) {
    const int64_t read = body->GetBytes(buffer.data(), buffer.size());
    if (read < 0) return false;
    const size_t size = static_cast<size_t>(read);
    if (sized) {
      if (size > content_length - sent) {
        LOG(ERROR) << "Request body longer than its Content-Length " << content_length;
        return false;
      }
      if (size &&
          !WriteAll(request, std::string(reinterpret_cast<char*>(buffer.data()), size))) {
        return false;
      }
      sent += size;
      if (read == 0 && sent != content_length) {
        LOG(ERROR) << "Request body of " << sent << " bytes, announced " << content_length;
        return false;
      }
    } else if (!WriteAll(request, FrameChunk(buffer.data(), size))) {
      return false;
    }
    if (read == 0) return true;
  }
}

// Reads the answer's body to its end into |body| within |timeout_ms| as a whole and
// within kMaxResponseBytes: WinHTTP bounds each wait alone (by the receive time-out), so
// each wait is given what is left of the whole, and a server that trickles its answer
// holds the upload no longer. False when it did not end within them.
[[nodiscard]] bool ReadBoundedBody(HINTERNET request, int timeout_ms, std::string* body) {
  const base::TimeTicks deadline =
      base::TimeTicks::Now() + base::TimeDelta::FromMilliseconds(timeout_ms);
  char chunk[kResponseBufferSize];
  for (;;) {
    const int64_t left_ms = (deadline - base::TimeTicks::Now()).InMilliseconds();
    if (left_ms <= 0) {
      LOG(ERROR) << "The answer's body did not end within " << timeout_ms << " ms";
      return false;
    }
    // Wine's WinHTTP takes a changed receive time-out for an open connection only from
    // WinHttpSetTimeouts, not from WINHTTP_OPTION_RECEIVE_TIMEOUT.
    if (!WinHttpSetTimeouts(request, timeout_ms, timeout_ms, timeout_ms,
                            static_cast<int>(left_ms))) {
      LOG(ERROR) << FormatWinHttpError("WinHttpSetTimeouts");
      return false;
    }
    // What has arrived, and only that: a read for more waits until its buffer is full.
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) {
      LOG(ERROR) << FormatWinHttpError("WinHttpQueryDataAvailable");
      return false;
    }
    if (available == 0) return true;
    DWORD read = 0;
    if (!WinHttpReadData(request, chunk, std::min<DWORD>(available, sizeof(chunk)), &read)) {
      LOG(ERROR) << FormatWinHttpError("WinHttpReadData");
      return false;
    }
    if (read == 0) return true;
    if (read > kMaxResponseBytes - body->size()) {
      LOG(ERROR) << "The answer's body is longer than " << kMaxResponseBytes << " bytes";
      return false;
    }
    body->append(chunk, read);
  }
}

// The handles of one request and the wait for its answer's headers, shared by Execute and
// the thread that receives them: whichever lets go last closes the handles, so that none
// is closed, or its value given to another request, under a call still running on it.
struct RequestHandles {
  base::ScopedWinHttpHandle session;
  base::ScopedWinHttpHandle connection;
  base::ScopedWinHttpHandle request;
  base::SyncEvent headers_received{base::SyncEvent::MANUAL, base::SyncEvent::NOT_SIGNALED};
  bool headers_succeeded = false;
};

DWORD WINAPI ReceiveHeaders(void* parameter) {
  const std::unique_ptr<std::shared_ptr<RequestHandles>> handles(
      static_cast<std::shared_ptr<RequestHandles>*>(parameter));
  if (WinHttpReceiveResponse((*handles)->request.Get(), nullptr))
    (*handles)->headers_succeeded = true;
  else
    LOG(ERROR) << FormatWinHttpError("WinHttpReceiveResponse");
  (*handles)->headers_received.Signal();
  return 0;
}

// Waits for all of the answer's headers within |timeout_ms|. WinHTTP bounds each wait for
// a byte alone, so a server that sends its headers a byte at a time would hold the upload
// without end: the headers are received on a thread of their own, which is given up when
// they have not all come in time. That thread then ends with the connection's next
// silence of the time-out, or with the process.
[[nodiscard]] bool ReceiveHeadersWithin(const std::shared_ptr<RequestHandles>& handles,
                                        int timeout_ms) {
  std::unique_ptr<std::shared_ptr<RequestHandles>> parameter(
      new std::shared_ptr<RequestHandles>(handles));
  if (!QueueUserWorkItem(&ReceiveHeaders, parameter.get(), WT_EXECUTELONGFUNCTION)) {
    PLOG(ERROR) << "Cannot wait for the answer's headers";
    return false;
  }
  (void)parameter.release();  // the thread's now
  if (!handles->headers_received.TimedWait(base::TimeDelta::FromMilliseconds(timeout_ms))) {
    LOG(ERROR) << "The answer's headers did not come within " << timeout_ms << " ms";
    return false;
  }
  return handles->headers_succeeded;
}

// Waits for the answer; true for status 200 and, when |response| is given, its body read
// whole within the bounds into it (left alone otherwise).
[[nodiscard]] bool ReadResponse(const std::shared_ptr<RequestHandles>& handles, int timeout_ms,
                                std::string* response) {
  if (!ReceiveHeadersWithin(handles, timeout_ms)) return false;
  const HINTERNET request = handles->request.Get();
  DWORD status = 0;
  DWORD status_size = sizeof(status);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                           WINHTTP_NO_HEADER_INDEX)) {
    LOG(ERROR) << FormatWinHttpError("WinHttpQueryHeaders");
    return false;
  }
  if (status != 200) {
    LOG(ERROR) << base::StringPrintf("HTTP status %d", static_cast<int>(status));
    return false;
  }
  // The body is read also when nobody wants it: closing a connection with unread data
  // resets it, and a server that answers before it has read the request's body would
  // lose the rest. Then the status alone decides, whatever the body does.
  std::string body;
  const bool whole = ReadBoundedBody(request, timeout_ms, &body);
  if (!response) return true;
  if (!whole) return false;
  *response = std::move(body);
  return true;
}

}  // namespace

bool CrackWinHttpUrl(const std::wstring& url, WinHttpTarget* target) {
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof(parts);
  // -1 lengths: point into |url| instead of copying.
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    LOG(ERROR) << FormatWinHttpError("WinHttpCrackUrl");
    return false;
  }
  target->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  target->host.assign(parts.lpszHostName ? parts.lpszHostName : L"", parts.dwHostNameLength);
  target->port = parts.nPort;
  target->target.assign(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) target->target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  // The fragment starts the extra information on Windows; Wine leaves it in the path.
  const size_t fragment = target->target.find(L'#');
  if (fragment != std::wstring::npos) target->target.resize(fragment);
  return true;
}

std::string BuildWinHttpUserAgent() {
  std::string agent = base::StringPrintf("%s/%s WinHTTP", "CrashUploader", "0.8.0");
  VS_FIXEDFILEINFO version = {};
  if (GetModuleVersion(L"winhttp.dll", &version))
    agent += "/" + FormatVersion(version.dwFileVersionMS, version.dwFileVersionLS);
  if (GetModuleVersion(L"kernel32.dll", &version) &&
      (version.dwFileOS & VOS_NT_WINDOWS32) == VOS_NT_WINDOWS32) {
    agent += " Windows_NT/" + FormatVersion(version.dwFileVersionMS, version.dwFileVersionLS) +
             " (x64";
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64))
      PLOG(WARNING) << "IsWow64Process";
    else if (wow64)
      agent += "; WoW64";
    agent += ")";
  }
  return agent;
}

std::string FormatWinHttpError(const char* function) {
  const DWORD error = GetLastError();
  // Some failures leave no last error: "Success" would then be logged for a failure.
  if (error == ERROR_SUCCESS) return base::StringPrintf("%s: error unknown", function);
  char text[256];
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      GetModuleHandleW(L"winhttp.dll"), error, 0, text, sizeof(text), nullptr);
  if (length == 0) {
    return base::StringPrintf("%s: error 0x%lx while retrieving error 0x%lx", function,
                              GetLastError(), error);
  }
  return base::StringPrintf("%s: %s (0x%lx)", function, std::string(text, length).c_str(), error);
}

std::string FrameChunk(const uint8_t* data, size_t size) {
  std::string piece = base::StringPrintf("%llx\r\n", static_cast<unsigned long long>(size));
  piece.append(reinterpret_cast<const char*>(data), size);
  piece += "\r\n";
  return piece;
}

HttpTransportWin::HttpTransportWin() = default;

HttpTransportWin::~HttpTransportWin() = default;

bool HttpTransportWin::Execute(std::string* response) {
  const std::shared_ptr<RequestHandles> handles = std::make_shared<RequestHandles>();
  base::ScopedWinHttpHandle& session = handles->session;
  session.Reset(
      WinHttpOpen(base::UTF8ToWide(BuildWinHttpUserAgent()).c_str(),
                  WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                  WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.IsValid()) {
    LOG(ERROR) << FormatWinHttpError("WinHttpOpen");
    return false;
  }
  const int timeout_ms = static_cast<int>(timeout() * 1000);
  if (!WinHttpSetTimeouts(session.Get(), timeout_ms, timeout_ms, timeout_ms, timeout_ms)) {
    LOG(ERROR) << FormatWinHttpError("WinHttpSetTimeouts");
    return false;
  }
  WinHttpTarget target;
  if (!CrackWinHttpUrl(base::UTF8ToWide(url()), &target)) return false;

  base::ScopedWinHttpHandle& connection = handles->connection;
  connection.Reset(WinHttpConnect(session.Get(), target.host.c_str(), target.port, 0));
  if (!connection.IsValid()) {
    LOG(ERROR) << FormatWinHttpError("WinHttpConnect");
    return false;
  }
  base::ScopedWinHttpHandle& request = handles->request;
  request.Reset(WinHttpOpenRequest(
      connection.Get(), base::UTF8ToWide(method()).c_str(), target.target.c_str(), nullptr,
      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
      target.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request.IsValid()) {
    LOG(ERROR) << FormatWinHttpError("WinHttpOpenRequest");
    return false;
  }
  // Wine's WinHttpReceiveResponse takes its time-out from the request alone, not from the
  // session's: without it a collector that never answers holds the upload without end.
  DWORD response_timeout_ms = static_cast<DWORD>(timeout_ms);
  if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                        &response_timeout_ms, sizeof(response_timeout_ms))) {
    LOG(ERROR) << FormatWinHttpError("WinHttpSetOption");
    return false;
  }

  bool sized = false;
  uint64_t content_length = 0;
  if (!AddRequestHeaders(request.Get(), headers(), &sized, &content_length)) return false;
  // A chunked body has no total: WinHTTP then sends no Content-Length beside the
  // Transfer-Encoding line (Wine's WinHTTP adds "Content-Length: 0" to every POST anyway).
  if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                          WINHTTP_NO_REQUEST_DATA, 0,
                          sized ? static_cast<DWORD>(content_length)
                                : WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH,
                          0)) {
    LOG(ERROR) << FormatWinHttpError("WinHttpSendRequest");
    return false;
  }
  return WriteBody(request.Get(), body_stream(), sized, content_length) &&
         ReadResponse(handles, timeout_ms, response);
}

std::unique_ptr<HttpTransport> HttpTransport::Create() {
  return std::unique_ptr<HttpTransport>(new HttpTransportWin());
}

}  // namespace crash_reporter
