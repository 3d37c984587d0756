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

TEST(CarriedPreferencesTest, FileUrlsAndAbsoluteLocalAndUncPathsNameLocalFiles) {
  struct Case {
    const char* text;
    bool local;
  };
  const Case cases[] = {
      {"file:///C:/Windows/System32", true},
      {"FiLe:///etc", true},
      {"file:relative", true},
      {"  file:///C:/x", true},
      {"\tfi\nle:///C:/x", true},
      {"C:\\Windows\\System32", true},
      {"c:/Windows/System32", true},
      {"D:", true},
      {"\\\\server\\share", true},
      {"\\\\?\\C:\\Windows", true},
      {"\\\\.\\PhysicalDrive0", true},
      {"//server/share", true},
      {"\\Windows\\System32", true},
      {"https://www.example.com/", false},
      {"http://example.com/C:/x", false},
      {"Downloads", false},
      {"profile\\cache", false},
      {"en-US", false},
      {"a file: not a URL", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.local, NamesLocalFile(c.text)) << c.text;
}

TEST(CarriedPreferencesTest, LocalFileValuesAreDroppedAtAnyDepthTheRestKept) {
  const std::string overrides =
      "{\"download\": {\"default_directory\": \"C:\\\\Windows\\\\System32\","
      " \"prompt\": false},"
      " \"homepage\": \"file:///C:/Windows/System32/calc.exe\","
      " \"homepage_is_newtabpage\": true,"
      " \"startup\": {\"urls\": [\"https://a.example/\", \"\\\\\\\\server\\\\x\", 3,"
      " \"https://b.example/\"]},"
      " \"escaped\": \"\\u0043:\\\\x\","
      " \"search\": {\"url\": \"https://search.example/?q={searchTerms}\", \"rank\": 2.5},"
      " \"language\": \"de\"}";
  const base::Result<std::string> carried = WithoutLocalFileValues(overrides);
  ASSERT_TRUE(carried.ok()) << carried.failure().text;
  EXPECT_EQ(
      "{\"download\":{\"prompt\":false},\"homepage_is_newtabpage\":true,\"language\":\"de\","
      "\"search\":{\"rank\":2.5,\"url\":\"https://search.example/?q={searchTerms}\"},"
      "\"startup\":{\"urls\":[\"https://a.example/\",3,\"https://b.example/\"]}}",
      carried.value());

  // Nothing to drop: the same values, as JSON.
  const base::Result<std::string> clean = WithoutLocalFileValues("{ \"a\" : [ 1, \"b\" ] }");
  ASSERT_TRUE(clean.ok());
  EXPECT_EQ("{\"a\":[1,\"b\"]}", clean.value());
}

TEST(CarriedPreferencesTest, TextThatIsNotJsonOrIsOneLocalPathIsNotCarried) {
  for (const char* text : {"", "{\"a\": ", "not json", "{\"a\": 1,}", "\"C:\\\\x\""})
    EXPECT_FALSE(WithoutLocalFileValues(text).ok()) << text;
  // The comments the overrides step's reader accepts.
  EXPECT_TRUE(WithoutLocalFileValues("// made by the server\n{\"a\": 1}").ok());
}

}  // namespace
}  // namespace installer
