#include "desktop/windows/installer/wininet/url_parts.h"

#include <gtest/gtest.h>

#include "base/strings/utf_string_conversions.h"

namespace installer {
namespace {

// The authority as written decides, also where WinINet cracks it into something.
TEST(UrlPartsTest, AuthoritiesNoRequestCanReachAreRefused) {
  const struct {
    const wchar_t* url;
    INTERNET_PORT port;
    bool usable;
  } cases[] = {
      {L"http://127.0.0.255/x", 80, true},
      {L"http://127.0.0.256/x", 80, false},
      {L"http://256.0.0.1:8080/x", 8080, false},
      {L"http://1.2.3/x", 80, false},
      {L"http://[::1]/x", 80, true},
      {L"http://[::1]:8080/x", 8080, true},
      // Without its closing bracket the last colon reads as a port.
      {L"http://[::1:80/x", 80, false},
      {L"http://[::1/x", 80, false},
      {L"http://[zz::1]/x", 80, false},
      {L"http://host.example:65535/x", 65535, true},
      {L"http://host.example:65536/x", 0, false},
      {L"http://host.example:0/x", 0, false},
      // The port cracked must be the one written.
      {L"http://host.example:8080/x", 80, false},
      {L"http://user:pw@host.example/x", 80, true},
      {L"http://exa%6dple.com/a", 80, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.usable, IsUsableAuthority(c.url, c.port)) << base::WideToUTF8(c.url);
  }
}

}  // namespace
}  // namespace installer
