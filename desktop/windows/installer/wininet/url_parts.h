// Checks of the parts of a URL that WinINet lets through: an authority no request can
// reach, a Content-Range that does not say where its bytes belong.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_URL_PARTS_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_URL_PARTS_H_

#include <windows.h>

#include <wininet.h>
#include <stdint.h>

#include <string>

namespace installer {

// Whether the authority of the http(s) |url| as written is a host that is a name, an
// IPv4 address or a bracketed IPv6 address, with a port of 1 to 65535 equal to |port|
// (the one InternetCrackUrlW gave) when one is written.
bool IsUsableAuthority(const std::wstring& url, INTERNET_PORT port);

// "bytes START-END/TOTAL" or "bytes START-END/*" (then |total| is left alone); false
// when it does not parse or END is before START.
[[nodiscard]] bool ParseContentRange(const std::wstring& text, uint64_t* start, uint64_t* total);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_URL_PARTS_H_
