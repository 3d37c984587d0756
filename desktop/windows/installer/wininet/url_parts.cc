#include "desktop/windows/installer/wininet/url_parts.h"

#include <stdlib.h>
#include <wchar.h>
#include <wctype.h>

#include <algorithm>

namespace installer {

namespace {

bool IsAsciiAlphanumeric(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// Four dot-separated decimal numbers of at most 255 each.
bool IsIpv4Address(const std::wstring& host) {
  int parts = 0;
  size_t start = 0;
  for (;;) {
    const size_t dot = std::min(host.find(L'.', start), host.size());
    const std::wstring part = host.substr(start, dot - start);
    if (part.empty() || part.size() > 3 || wcstoul(part.c_str(), nullptr, 10) > 255) return false;
    ++parts;
    if (dot == host.size()) return parts == 4;
    start = dot + 1;
  }
}

// A host as written in a URL: a bracketed IPv6 address, an IPv4 address, or a name of
// letters, digits, '-', '_' and '.' (all-numeric names must be IPv4 addresses).
bool IsUsableHost(const std::wstring& host) {
  if (host.empty()) return false;
  if (host[0] == L'[') {
    if (host.size() < 4 || host.back() != L']') return false;
    for (size_t i = 1; i + 1 < host.size(); ++i) {
      if (!iswxdigit(host[i]) && host[i] != L':' && host[i] != L'.') return false;
    }
    return host.find(L':') != std::wstring::npos;
  }
  bool numeric = true;
  for (wchar_t c : host) {
    if (!IsAsciiAlphanumeric(c) && c != L'-' && c != L'_' && c != L'.') return false;
    if (c != L'.' && (c < L'0' || c > L'9')) numeric = false;
  }
  return !numeric || IsIpv4Address(host);
}

const size_t kHostBufferLength = 255;
const size_t kPathBufferLength = 4095;

bool BeginsWithIgnoringCase(const std::wstring& text, const wchar_t* prefix) {
  const size_t length = wcslen(prefix);
  return text.size() >= length && _wcsnicmp(text.c_str(), prefix, length) == 0;
}

}  // namespace

// "https://", a host and a path that fill their buffers but for the closing NUL, ":65535".
const size_t kMaxParsedUrlLength =
    8 + (kHostBufferLength - 1) + 6 + (kPathBufferLength - 1);

bool ParseUrl(const std::wstring& url, ParsedUrl* parsed) {
  // Wine's cracker crashes on some other texts (a scheme it does not know with an odd
  // authority, or a long one); it never met one of these two schemes that it could not
  // take.
  if (!BeginsWithHttpScheme(url) || url.size() > kMaxParsedUrlLength) return false;
  wchar_t host[kHostBufferLength];
  wchar_t path[kPathBufferLength];
  URL_COMPONENTSW components = {};
  components.dwStructSize = sizeof(components);
  components.lpszHostName = host;
  components.dwHostNameLength = static_cast<DWORD>(sizeof(host) / sizeof(host[0]));
  components.lpszUrlPath = path;
  components.dwUrlPathLength = static_cast<DWORD>(sizeof(path) / sizeof(path[0]));
  if (!InternetCrackUrlW(url.c_str(), 0, ICU_DECODE | ICU_ESCAPE, &components)) return false;
  if (IsHttpScheme(components.nScheme) && !IsUsableAuthority(url, components.nPort))
    return false;
  parsed->scheme = components.nScheme;
  parsed->host.assign(host, components.dwHostNameLength);
  parsed->port = components.nPort;
  parsed->path.assign(path, components.dwUrlPathLength);
  return true;
}

bool IsHttpScheme(int scheme) {
  return scheme == INTERNET_SCHEME_HTTP || scheme == INTERNET_SCHEME_HTTPS;
}

bool BeginsWithHttpScheme(const std::wstring& url) {
  return BeginsWithIgnoringCase(url, L"http://") || BeginsWithIgnoringCase(url, L"https://");
}

bool BeginsWithOtherScheme(const std::wstring& url) {
  const size_t colon = url.find(L':');
  if (colon == std::wstring::npos || colon == 0 || !iswalpha(url[0]) || url[0] > 0x7F)
    return false;
  for (size_t i = 1; i < colon; ++i) {
    if (!IsAsciiAlphanumeric(url[i]) && !wcschr(L"+-.", url[i])) return false;
  }
  const std::wstring scheme = url.substr(0, colon + 1);
  return !BeginsWithIgnoringCase(scheme, L"http:") && !BeginsWithIgnoringCase(scheme, L"https:");
}

std::wstring CombineUrl(const std::wstring& base, const std::wstring& relative) {
  if (relative.empty()) return std::wstring();
  // Escaping may make the text longer; one retry with the size asked for.
  DWORD size = static_cast<DWORD>(3 * (base.size() + relative.size()) + 16);
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::wstring combined(size, L'\0');
    if (InternetCombineUrlW(base.c_str(), relative.c_str(), &combined[0], &size, 0)) {
      combined.resize(size);
      return combined;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    ++size;
  }
  return std::wstring();
}

bool IsHostAllowedBy(const std::wstring& host, const std::vector<std::wstring>& suffixes) {
  if (suffixes.empty()) return true;
  for (const std::wstring& suffix : suffixes) {
    if (host.size() >= suffix.size() &&
        host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return true;
    }
  }
  return false;
}

// The authority of an http(s) URL as written: WinINet cracks "[zz::1" as a host and
// 99999 as a port, and requests to them then fail as if the network were down, which
// would be retried for an hour. |port| is the port the crack gave. Wine's WinINet ends
// the authority at a "\" for "http://" only, and reads it on for "https://" and
// "HTTP://": one that holds a "\" is read differently by different spellings.
bool IsUsableAuthority(const std::wstring& url, INTERNET_PORT port) {
  const size_t scheme_end = url.find(L"://");
  if (scheme_end == std::wstring::npos) return false;
  const size_t start = scheme_end + 3;
  const size_t end = std::min(url.find_first_of(L"/?#", start), url.size());
  std::wstring authority = url.substr(start, end - start);
  if (authority.find(L'\\') != std::wstring::npos) return false;
  const size_t at = authority.rfind(L'@');
  if (at != std::wstring::npos) authority.erase(0, at + 1);
  const size_t colon = authority.rfind(L':');
  const size_t bracket = authority.rfind(L']');
  if (colon == std::wstring::npos || (bracket != std::wstring::npos && colon < bracket))
    return IsUsableHost(authority);
  const std::wstring digits = authority.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of(L"0123456789") != std::wstring::npos) {
    return false;
  }
  const unsigned long value = wcstoul(digits.c_str(), nullptr, 10);
  return value >= 1 && value <= 65535 && value == port &&
         IsUsableHost(authority.substr(0, colon));
}

// "bytes START-END/TOTAL" (TOTAL may be "*", then |total| is left alone).
bool ParseContentRange(const std::wstring& text, uint64_t* start, uint64_t* total) {
  unsigned long long first = 0, last = 0, length = 0;
  if (swscanf(text.c_str(), L"bytes %llu-%llu/%llu", &first, &last, &length) == 3) {
    *total = length;
  } else if (swscanf(text.c_str(), L"bytes %llu-%llu/*", &first, &last) != 2) {
    return false;
  }
  *start = first;
  return last >= first;
}

}  // namespace installer
