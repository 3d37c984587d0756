#include "desktop/windows/installer/carried_preferences.h"

#include <string>

#include <gtest/gtest.h>

namespace installer {
namespace {

TEST(CarriedPreferencesTest, OnlyAnHttpOrHttpsAddressOfAHostIsAWebPage) {
  struct Case {
    const char* address;
    bool web_page;
  };
  const Case cases[] = {
      {"https://www.example.com/welcome?x=1", true},
      {"HTTP://example.com:8080/", true},
      {"http://127.0.0.1/start", true},
      {"file:///C:/Windows/System32/calc.exe", false},
      {"FILE://server/share/page.html", false},
      {"C:\\Windows\\System32\\calc.exe", false},
      {"\\\\server\\share\\page.html", false},
      {"javascript:alert(1)", false},
      {"ftp://example.com/welcome", false},
      {"about:blank", false},
      {"", false},
      {"http://", false},
      {" http://example.com/", false},
      {"http://exa mple.com/", false},
      {"http:\\\\example.com\\", false},
      {"ht\ttp://example.com/", false},
      {"httpx://example.com/", false},
      // What the parser would take but a reader skips, splits at or turns into a slash
      // anywhere in it: the address checked would not be the address used.
      {"http://example.com/a b", false},
      {"http://example.com/\x01", false},
      {"http://example.com/a\x1F", false},
      {"http://example.com/a\x7F", false},
      {"http://example.com\\@evil.example/", false},
      {"http://example.com/a\\b", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.web_page, IsWebPageAddress(c.address)) << c.address;
}

}  // namespace
}  // namespace installer
