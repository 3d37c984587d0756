#include "desktop/windows/installer/wininet/answer_headers.h"

#include <wchar.h>

#include <algorithm>

namespace installer {

AnswerHeader QueryAnswerHeader(HINTERNET request, const wchar_t* name, size_t max_length) {
  AnswerHeader header;
  // The call takes the name in the buffer it writes the value into.
  const size_t capacity = std::max(max_length, wcslen(name)) + 1;
  std::wstring buffer(std::min<size_t>(capacity, 256), L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    wcsncpy(&buffer[0], name, buffer.size() - 1);
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, &buffer[0], &size, nullptr)) {
      header.value = buffer.substr(0, size / sizeof(wchar_t));
      if (header.value.size() > max_length) {
        header.value.clear();
        header.too_long = true;
      }
      return header;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    // |size| is what the value needs, its end included.
    const size_t needed = size / sizeof(wchar_t);
    if (needed > capacity || attempt > 0) {
      header.too_long = true;
      return header;
    }
    buffer.assign(std::max(needed, wcslen(name) + 1), L'\0');
  }
  return header;
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
