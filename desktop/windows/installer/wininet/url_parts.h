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
  std::wstring path;
};

// Cracks |url| into |parsed|; false when WinINet cannot, or for an http(s) URL whose
// authority is not usable (below).
[[nodiscard]] bool ParseUrl(const std::wstring& url, ParsedUrl* parsed);
bool IsHttpScheme(int scheme);
// |relative| (a Location value) read against |base|; empty when they do not combine.
std::wstring CombineUrl(const std::wstring& base, const std::wstring& relative);
// Whether |host| ends with one of |suffixes|; every host when there is none.
bool IsHostAllowedBy(const std::wstring& host, const std::vector<std::wstring>& suffixes);

// Whether the authority of the http(s) |url| as written is a host that is a name, an
// IPv4 address or a bracketed IPv6 address, with a port of 1 to 65535 equal to |port|
// (the one InternetCrackUrlW gave) when one is written.
bool IsUsableAuthority(const std::wstring& url, INTERNET_PORT port);

// "bytes START-END/TOTAL" or "bytes START-END/*" (then |total| is left alone); false
// when it does not parse or END is before START.
[[nodiscard]] bool ParseContentRange(const std::wstring& text, uint64_t* start, uint64_t* total);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_URL_PARTS_H_
