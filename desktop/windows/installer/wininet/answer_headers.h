// What the downloader reads of an answer's headers through WinINet.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_ANSWER_HEADERS_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_ANSWER_HEADERS_H_

#include <windows.h>

#include <wininet.h>
#include <stddef.h>

#include <string>

namespace installer {

// A header value read within a bound: one longer than the bound is not read at all.
struct AnswerHeader {
  std::wstring value;  // empty when the header is absent or too long
  bool too_long = false;
};

// The value of the header |name| of |request|'s answer, read into a buffer of at most
// |max_length| characters and its end: a server chooses how long a header is.
AnswerHeader QueryAnswerHeader(HINTERNET request, const wchar_t* name, size_t max_length);
// Whether |request|'s answer began with an HTTP/1.x status line and headers.
bool HasHttp1StatusLine(HINTERNET request);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_ANSWER_HEADERS_H_
