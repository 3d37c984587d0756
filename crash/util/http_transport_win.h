// The HTTP transport over WinHTTP. A sized request ("Content-Length" set) writes the body
// as it is read; any other is sent with "Transfer-Encoding: chunked", framed by hand.
#ifndef CRASH_UTIL_HTTP_TRANSPORT_WIN_H_
#define CRASH_UTIL_HTTP_TRANSPORT_WIN_H_

#include <windows.h>

#include <stdint.h>

#include <string>

#include "crash/util/http_transport.h"

namespace crash_reporter {

// What a request is sent to: the fragment never leaves the machine.
struct WinHttpTarget {
  bool secure = false;
  std::wstring host;
  uint16_t port = 0;
  std::wstring target;  // path and query
};

// False (logged as "WinHttpCrackUrl") for a URL WinHTTP cannot split.
[[nodiscard]] bool CrackWinHttpUrl(const std::wstring& url, WinHttpTarget* target);

// "CrashUploader/0.8.0 WinHTTP", then "/a.b.c.d" of winhttp.dll, then
// " Windows_NT/a.b.c.d (x64[; WoW64])" of kernel32.dll when each can be read.
std::string BuildWinHttpUserAgent();

// "<function>: <message text> (0x<code>)" for the last error.
std::string FormatWinHttpError(const char* function);

// One piece of a chunked body: hexadecimal length, CRLF, the bytes, CRLF. An empty piece
// is the last one ("0" CRLF CRLF).
std::string FrameChunk(const uint8_t* data, size_t size);

class HttpTransportWin : public HttpTransport {
 public:
  HttpTransportWin();
  ~HttpTransportWin() override;

  [[nodiscard]] bool Execute(std::string* response) override;
};

}  // namespace crash_reporter

#endif  // CRASH_UTIL_HTTP_TRANSPORT_WIN_H_
