// What the downloader reads of an answer's headers through WinINet.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_ANSWER_HEADERS_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_ANSWER_HEADERS_H_

#include <windows.h>

#include <wininet.h>

#include <string>

namespace installer {

// The value of the header |name| of |request|'s answer; empty when absent.
std::wstring QueryAnswerHeader(HINTERNET request, const wchar_t* name);
// Whether |request|'s answer began with an HTTP/1.x status line and headers.
bool HasHttp1StatusLine(HINTERNET request);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_ANSWER_HEADERS_H_
