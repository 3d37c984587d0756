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

// The characters a request line cannot carry in a path or query as they are: escaped as
// WinINet's own combining escaped them, non-ASCII as its UTF-8 bytes.
bool NeedsEscape(wchar_t c) {
  return c <= 0x20 || c >= 0x7F || wcschr(L"\"<>\\^`{|}", c) != nullptr;
}

void AppendEscapedByte(unsigned byte, std::wstring* out) {
  const wchar_t* const kHex = L"0123456789ABCDEF";
  out->push_back(L'%');
  out->push_back(kHex[byte >> 4]);
  out->push_back(kHex[byte & 0xF]);
}

// |text| with every character NeedsEscape names percent-encoded; a lone surrogate as U+FFFD.
std::wstring Escape(const std::wstring& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (!NeedsEscape(c)) {
      out.push_back(c);
      continue;
    }
    uint32_t code_point = c;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code_point = 0x10000 + ((c - 0xD800u) << 10) + (text[++i] - 0xDC00u);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      code_point = 0xFFFD;
    }
    if (code_point < 0x80) {
      AppendEscapedByte(code_point, &out);
    } else if (code_point < 0x800) {
      AppendEscapedByte(0xC0 | (code_point >> 6), &out);
      AppendEscapedByte(0x80 | (code_point & 0x3F), &out);
    } else if (code_point < 0x10000) {
      AppendEscapedByte(0xE0 | (code_point >> 12), &out);
      AppendEscapedByte(0x80 | ((code_point >> 6) & 0x3F), &out);
      AppendEscapedByte(0x80 | (code_point & 0x3F), &out);
    } else {
      AppendEscapedByte(0xF0 | (code_point >> 18), &out);
      AppendEscapedByte(0x80 | ((code_point >> 12) & 0x3F), &out);
      AppendEscapedByte(0x80 | ((code_point >> 6) & 0x3F), &out);
      AppendEscapedByte(0x80 | (code_point & 0x3F), &out);
    }
  }
  return out;
}

// "<letter>[letters, digits, +-.]:" at the start.
bool HasScheme(const std::wstring& text) {
  const size_t colon = text.find(L':');
  if (colon == std::wstring::npos || colon == 0 || text[0] > 0x7F || !iswalpha(text[0]))
    return false;
  for (size_t i = 1; i < colon; ++i) {
    if (!IsAsciiAlphanumeric(text[i]) && !wcschr(L"+-.", text[i])) return false;
  }
  return true;
}

// A URL or reference in its parts; the query keeps its "?", the fragment is dropped.
struct UrlSplit {
  std::wstring scheme;
  bool has_authority = false;
  std::wstring authority;
  std::wstring path;
  bool has_query = false;
  std::wstring query;
};

// The path and query of |text| from |start| on.
void SplitPathAndQuery(const std::wstring& text, size_t start, UrlSplit* split) {
  const size_t end = std::min(text.find(L'#', start), text.size());
  const size_t question = std::min(text.find(L'?', start), end);
  split->path = text.substr(start, question - start);
  split->has_query = question < end;
  split->query = text.substr(question, end - question);
}

// An http(s) URL as the downloader holds it; no scheme when it is none.
UrlSplit SplitUrl(const std::wstring& url) {
  UrlSplit split;
  const size_t scheme_end = url.find(L"://");
  if (!BeginsWithHttpScheme(url) || scheme_end == std::wstring::npos) return split;
  split.scheme = url.substr(0, scheme_end);
  const size_t start = scheme_end + 3;
  const size_t end = std::min(url.find_first_of(L"/?#", start), url.size());
  split.has_authority = true;
  split.authority = url.substr(start, end - start);
  SplitPathAndQuery(url, end, &split);
  return split;
}

// A reference without a scheme, its path and query escaped; its authority, when it names
// one, is checked as written by whoever takes the result.
UrlSplit SplitReference(const std::wstring& reference) {
  UrlSplit split;
  size_t start = 0;
  if (reference.compare(0, 2, L"//") == 0) {
    start = std::min(reference.find_first_of(L"/?#", 2), reference.size());
    split.has_authority = true;
    split.authority = reference.substr(2, start - 2);
  }
  SplitPathAndQuery(reference, start, &split);
  split.path = Escape(split.path);
  split.query = Escape(split.query);
  return split;
}

// "." and ".." segments of |path| resolved as a reference's are: ".." never climbs above
// the root. One pass over |path|: each segment is appended once and removed at most once.
std::wstring RemoveDotSegments(const std::wstring& path) {
  std::wstring output;
  size_t i = 0;
  // Whether what is left of |path| begins with, or is, |text|.
  const auto begins = [&](const wchar_t* text) {
    return path.compare(i, wcslen(text), text) == 0;
  };
  const auto is = [&](const wchar_t* text) { return path.compare(i, path.npos, text) == 0; };
  while (i < path.size()) {
    if (begins(L"../")) {
      i += 3;
    } else if (begins(L"./") || begins(L"/./")) {
      i += 2;
    } else if (is(L"/.")) {
      output += L'/';
      i = path.size();
    } else if (begins(L"/../") || is(L"/..")) {
      const size_t last = output.rfind(L'/');
      output.erase(last == std::wstring::npos ? 0 : last);
      // What is left begins with the "/" of "/../", or is the "/" that "/.." becomes.
      if (is(L"/..")) {
        output += L'/';
        i = path.size();
      } else {
        i += 3;
      }
    } else if (is(L".") || is(L"..")) {
      i = path.size();
    } else {
      const size_t next = path.find(L'/', i + 1);
      const size_t length = (next == std::wstring::npos ? path.size() : next) - i;
      output.append(path, i, length);
      i += length;
    }
  }
  return output;
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
  // The cracked path is decoded ("%3F" as "?", "%2F" as "/", cut at "%00"): what is
  // requested is the address's own path and query, still escaped. Escaping again leaves
  // an escaped text as it is and only takes out what a request line cannot carry.
  const UrlSplit split = SplitUrl(url);
  parsed->path = Escape(split.path + split.query);
  if (parsed->path.empty() || parsed->path[0] != L'/') parsed->path.insert(0, L"/");
  return true;
}

bool IsHttpScheme(int scheme) {
  return scheme == INTERNET_SCHEME_HTTP || scheme == INTERNET_SCHEME_HTTPS;
}

bool BeginsWithHttpScheme(const std::wstring& url) {
  return BeginsWithIgnoringCase(url, L"http://") || BeginsWithIgnoringCase(url, L"https://");
}

bool BeginsWithOtherScheme(const std::wstring& url) {
  if (!HasScheme(url)) return false;
  const std::wstring scheme = url.substr(0, url.find(L':') + 1);
  return !BeginsWithIgnoringCase(scheme, L"http:") && !BeginsWithIgnoringCase(scheme, L"https:");
}

std::wstring CombineUrl(const std::wstring& base, const std::wstring& relative) {
  if (relative.empty()) return std::wstring();
  // A reference with a scheme stands for itself; the caller checks it as any address.
  if (HasScheme(relative)) return relative;
  const UrlSplit from = SplitUrl(base);
  if (from.scheme.empty()) return std::wstring();
  const UrlSplit reference = SplitReference(relative);
  std::wstring authority = from.authority;
  std::wstring path;
  std::wstring query = reference.query;
  if (reference.has_authority) {
    authority = reference.authority;
    path = RemoveDotSegments(reference.path);
  } else if (reference.path.empty()) {
    path = from.path;
    if (!reference.has_query) query = from.query;
  } else if (reference.path[0] == L'/') {
    path = RemoveDotSegments(reference.path);
  } else {
    // Merged with the base's path up to its last "/" ("/" for a base without a path).
    const size_t slash = from.path.rfind(L'/');
    path = RemoveDotSegments(
        (slash == std::wstring::npos ? L"/" : from.path.substr(0, slash + 1)) + reference.path);
  }
  return from.scheme + L"://" + authority + path + query;
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
