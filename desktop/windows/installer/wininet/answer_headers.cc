#include "desktop/windows/installer/wininet/answer_headers.h"

#include <wchar.h>

namespace installer {

std::wstring QueryAnswerHeader(HINTERNET request, const wchar_t* name) {
  std::wstring buffer(256, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    wcsncpy(&buffer[0], name, buffer.size() - 1);
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, &buffer[0], &size, nullptr))
      return buffer.substr(0, size / sizeof(wchar_t));
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    buffer.assign(size / sizeof(wchar_t) + wcslen(name) + 1, L'\0');
  }
  return std::wstring();
}

bool HasHttp1StatusLine(HINTERNET request) {
  wchar_t version[16] = {};
  DWORD size = sizeof(version) - sizeof(version[0]);
  if (!HttpQueryInfoW(request, HTTP_QUERY_VERSION, version, &size, nullptr) ||
      wcsncmp(version, L"HTTP/1.", 7) != 0) {
    return false;
  }
  // Wine gives an answer without a status line the version "HTTP/1.0" and no header;
  // every server's answer carries at least one (Date, or how its body is delimited).
  std::wstring raw(4096, L'\0');
  size = static_cast<DWORD>(raw.size() * sizeof(wchar_t));
  if (!HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, &raw[0], &size, nullptr))
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
  raw.resize(size / sizeof(wchar_t));
  const size_t first_line_end = raw.find(L"\r\n");
  return first_line_end != std::wstring::npos &&
         raw.find(L':', first_line_end) != std::wstring::npos;
}

}  // namespace installer
