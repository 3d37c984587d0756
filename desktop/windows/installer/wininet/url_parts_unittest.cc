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
      // WinINet reads a "\" into the authority for some spellings of the scheme only.
      {L"http://e2e\\x@127.0.0.1:8080/x", 8080, false},
      {L"HTTP://e2e\\x@127.0.0.1:84009/x", 18473, false},
      {L"https://host.example\\x/y", 443, false},
      {L"http://host.example/x\\y@z", 80, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.usable, IsUsableAuthority(c.url, c.port)) << base::WideToUTF8(c.url);
  }
}

// What a server names reaches the cracker only as an http(s) text within the bound (Wine's
// crashes on some others), and every spelling of the scheme meets the same authority
// checks.
TEST(UrlPartsTest, OnlyHttpTextsWithinTheBoundAreCracked) {
  const std::wstring host(254, L'h');
  const std::wstring longest = L"https://" + host + L":65535/" + std::wstring(4093, L'p');
  ASSERT_EQ(kMaxParsedUrlLength, longest.size());
  const struct {
    std::wstring url;
    bool parsed;
    INTERNET_PORT port;
  } cases[] = {
      {L"x:@.", false, 0},
      {L"a:0@.", false, 0},
      {L"file:///x:@.", false, 0},
      {L"file://" + std::wstring(300, L'a'), false, 0},
      {L"file://" + std::wstring(300, L'a') + L"@.", false, 0},
      {L"file://a:" + std::wstring(300, L'a'), false, 0},
      {L"zz:" + std::wstring(300, L'@'), false, 0},
      {L"HTTP://127.0.0.1:8080/x", true, 8080},
      {L"hTtPs://host.example/x", true, 443},
      {L"HTTP://e2e\\x@127.0.0.1:84009/x", false, 0},
      {L"https://u\\x@host.example:99999/x", false, 0},
      {L"http://e2e\\x@127.0.0.1:8080/x", false, 0},
      {L"HTTPS://host.example:65536/x", false, 0},
      {L"HTTP://host.example:84009/x", false, 0},
      {longest, true, 65535},
      {longest + L"p", false, 0},
      // Userinfo is no buffer's: only the bound keeps it from the cracker.
      {L"http://" + std::wstring(5000, L'u') + L"@host.example/x", false, 0},
  };
  for (const auto& c : cases) {
    ParsedUrl parsed;
    EXPECT_EQ(c.parsed, ParseUrl(c.url, &parsed)) << base::WideToUTF8(c.url.substr(0, 80));
    if (c.parsed) {
      EXPECT_TRUE(IsHttpScheme(parsed.scheme));
      EXPECT_EQ(c.port, parsed.port);
    }
  }
  EXPECT_TRUE(BeginsWithOtherScheme(L"x:@."));
  EXPECT_TRUE(BeginsWithOtherScheme(L"file:///x:@."));
  EXPECT_TRUE(BeginsWithOtherScheme(L"a+b-c.d:x"));
  EXPECT_FALSE(BeginsWithOtherScheme(L"HTTP://x"));
  EXPECT_FALSE(BeginsWithOtherScheme(L"Https:x"));
  EXPECT_FALSE(BeginsWithOtherScheme(L"not a url"));
  EXPECT_FALSE(BeginsWithOtherScheme(L"/path:x"));
  EXPECT_FALSE(BeginsWithOtherScheme(L"1a:x"));
}

// References resolve as the URL standard resolves them (its own examples), by our code
// alone: what a request line cannot carry comes out escaped, so the length the caller
// bounds is the length requested.
TEST(UrlPartsTest, RelativeReferencesResolveAsTheStandardSays) {
  const wchar_t kBase[] = L"http://a/b/c/d;p?q";
  const struct {
    const wchar_t* base;
    std::wstring relative;
    std::wstring combined;
  } cases[] = {
      {kBase, L"g", L"http://a/b/c/g"},
      {kBase, L"./g/", L"http://a/b/c/g/"},
      {kBase, L"/g", L"http://a/g"},
      {kBase, L"//g", L"http://g"},
      {kBase, L"?y", L"http://a/b/c/d;p?y"},
      {kBase, L"g?y#s", L"http://a/b/c/g?y"},
      {kBase, L"#s", L"http://a/b/c/d;p?q"},
      {kBase, L".", L"http://a/b/c/"},
      {kBase, L"./", L"http://a/b/c/"},
      {kBase, L"g/.", L"http://a/b/c/g/"},
      {kBase, L"..", L"http://a/b/"},
      {kBase, L"../../../../g", L"http://a/g"},
      {kBase, L"/../g", L"http://a/g"},
      {kBase, L"..g", L"http://a/b/c/..g"},
      {kBase, L"g;x=1/../y", L"http://a/b/c/y"},
      {kBase, L"g?y/./x", L"http://a/b/c/g?y/./x"},
      // A scheme makes it a whole address, checked as one by the caller.
      {kBase, L"http:g", L"http:g"},
      {kBase, L"", L""},
      {L"https://h:8443", L"g", L"https://h:8443/g"},
      {L"http://h?q", L"?y", L"http://h?y"},
      {L"ftp://h/x", L"g", L""},
      // Escaped: what the request asks for, and what the bound is checked against.
      {L"http://h/x", L"<{\u00e9 ^`|}\"\\", L"http://h/%3C%7B%C3%A9%20%5E%60%7C%7D%22%5C"},
      {L"http://h/x", L"?a>b", L"http://h/x?a%3Eb"},
      {L"http://h/x", L"\\\\evil\\y", L"http://h/%5C%5Cevil%5Cy"},
      {L"http://h/x", L"//o:1/<", L"http://o:1/%3C"},
      {L"http://h/x", L"//o/a/../b", L"http://o/b"},
      {L"http://h/x", L"\x7f\u07ff\u0800", L"http://h/%7F%DF%BF%E0%A0%80"},
      {L"http://h/x", L"\U000103FF", L"http://h/%F0%90%8F%BF"},
      {L"http://h/x", L"\U0001F600\xD800" L"a", L"http://h/%F0%9F%98%80%EF%BF%BDa"},
      {L"http://h/x", L"%41/%2e", L"http://h/%41/%2e"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.combined, CombineUrl(c.base, c.relative))
        << base::WideToUTF8(c.base) << " + " << base::WideToUTF8(c.relative.substr(0, 40));
  }
}

}  // namespace
}  // namespace installer
