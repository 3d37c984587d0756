// The parts of a URL as the downloader requests them: cracked by WinINet, then checked
// for what WinINet lets through (an authority no request can reach), combined with a
// redirect's Location, and a Content-Range that must say where its bytes belong.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_URL_PARTS_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_URL_PARTS_H_

#include <windows.h>

#include <wininet.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace installer {

struct ParsedUrl {
  int scheme = 0;
  std::wstring host;
  INTERNET_PORT port = 0;
  // The path and query as the address writes them (still escaped), "/" first; what a
  // request line cannot carry escaped. The fragment is not part of it.
  std::wstring path;
};

// The longest text ParseUrl cracks: the longest scheme and port with a host and a path
// (its query and fragment included) as long as its buffers hold.
extern const size_t kMaxParsedUrlLength;

// Cracks |url| into |parsed|; false for a text that does not begin with "http://" or
// "https://" (any case) or is longer than kMaxParsedUrlLength, which never reaches
// WinINet, when WinINet cannot crack it, or when its authority is not usable (below).
[[nodiscard]] bool ParseUrl(const std::wstring& url, ParsedUrl* parsed);
bool IsHttpScheme(int scheme);
// Whether |url| begins with "http://" or "https://", in any case.
bool BeginsWithHttpScheme(const std::wstring& url);
// Whether |url| begins with a scheme ("<letter>[letters, digits, +-.]:") other than
// http and https.
bool BeginsWithOtherScheme(const std::wstring& url);
// |relative| (a Location value) resolved against the http(s) |base| as a URL reference is
// resolved ("." and ".." segments taken out), with what a request line cannot carry in
// its path and query percent-encoded (non-ASCII as UTF-8); its fragment is dropped. A
// reference with a scheme comes back as it is. Empty when |relative| is empty or |base|
// is no http(s) URL. Computed here: WinINet's own combining writes past a buffer larger
// than a URL may be and may return an earlier call's result.
std::wstring CombineUrl(const std::wstring& base, const std::wstring& relative);
// Whether |host| ends with one of |suffixes|; every host when there is none.
bool IsHostAllowedBy(const std::wstring& host, const std::vector<std::wstring>& suffixes);

// Whether the authority of the http(s) |url| as written (up to the first "/", "?" or "#")
// is a host that is a name, an IPv4 address or a bracketed IPv6 address, with a port of 1
// to 65535 equal to |port| (the one InternetCrackUrlW gave) when one is written; never
// one that holds a "\".
bool IsUsableAuthority(const std::wstring& url, INTERNET_PORT port);

// "bytes START-END/TOTAL" or "bytes START-END/*" (then |total| is left alone); false
// when it does not parse or END is before START.
[[nodiscard]] bool ParseContentRange(const std::wstring& text, uint64_t* start, uint64_t* total);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_URL_PARTS_H_
