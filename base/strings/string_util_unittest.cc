#include "base/strings/string_util.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(StringUtilTest, AsciiCase) {
  EXPECT_EQ("abc\xC3\x89z1", ToLowerASCII("AbC\xC3\x89Z1"));
  EXPECT_EQ("ABC\xC3\xA9Z1", ToUpperASCII("abc\xC3\xA9z1"));
  EXPECT_TRUE(EqualsCaseInsensitiveASCII("Velum.EXE", "velum.exe"));
  EXPECT_FALSE(EqualsCaseInsensitiveASCII("a", "ab"));
  EXPECT_FALSE(EqualsCaseInsensitiveASCII("@", "`"));  // only letters fold
  EXPECT_TRUE(LowerCaseEqualsASCII(L"HeLLo", "hello"));
  EXPECT_FALSE(LowerCaseEqualsASCII(L"hello", "HELLO"));  // the ASCII side is not lowered
  EXPECT_FALSE(LowerCaseEqualsASCII(L"\x00E9", "\xE9"));
  EXPECT_FALSE(LowerCaseEqualsASCII(L"abc", "ab"));
}

TEST(StringUtilTest, StartsAndEndsWith) {
  struct Case {
    const wchar_t* text;
    const wchar_t* affix;
    CompareCase mode;
    bool starts;
    bool ends;
  } cases[] = {
      {L"Velum Browser", L"velum", INSENSITIVE_ASCII, true, false},
      {L"Velum Browser", L"velum", SENSITIVE, false, false},
      {L"Velum Browser", L"BROWSER", INSENSITIVE_ASCII, false, true},
      {L"abc", L"", SENSITIVE, true, true},
      {L"abc", L"", INSENSITIVE_ASCII, true, true},
      {L"abc", L"", static_cast<CompareCase>(2), false, false},
      {L"ab", L"abc", SENSITIVE, false, false},
      {L"aba", L"a", SENSITIVE, true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.starts, StartsWith(c.text, c.affix, c.mode)) << c.text << " " << c.affix;
    EXPECT_EQ(c.ends, EndsWith(c.text, c.affix, c.mode)) << c.text << " " << c.affix;
  }
  EXPECT_TRUE(StartsWith("--Switch", "--s", INSENSITIVE_ASCII));
  EXPECT_TRUE(EndsWith("file.JSON", ".json", INSENSITIVE_ASCII));
}

TEST(StringUtilTest, TrimString) {
  struct Case {
    const wchar_t* input;
    std::wstring output;
    TrimPositions result;
  } cases[] = {
      {L"", L"", TRIM_NONE},
      {L"\"\"\"", L"", TRIM_ALL},
      {L"\"a\"", L"a", TRIM_ALL},
      {L"\"a", L"a", TRIM_LEADING},
      {L"a\"", L"a", TRIM_TRAILING},
      {L"a\"b", L"a\"b", TRIM_NONE},
  };
  for (const Case& c : cases) {
    std::wstring output = L"junk";
    EXPECT_EQ(c.result, TrimString(c.input, L"\"", &output)) << c.input;
    EXPECT_EQ(c.output, output) << c.input;
  }
  std::wstring in_place = L"  x  ";
  EXPECT_EQ(TRIM_ALL, TrimString(in_place, L" ", &in_place));
  EXPECT_EQ(L"x", in_place);
}

TEST(StringUtilTest, CollapseWhitespace) {
  struct Case {
    const char* input;
    const char* output;
  } cases[] = {
      {"  a  b  ", "a b"},
      {"a\n  b", "ab"},
      {"a \r\n b c", "ab c"},
      {"\n\n", ""},
      {"", ""},
      {"a\tb\vc", "a b c"},
      {"a\xC2\xA0" "b", "a\xC2\xA0" "b"},  // UTF-8 NBSP bytes are not whitespace here
      {"x\n", "x"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.output, CollapseWhitespace(c.input)) << c.input;
}

TEST(StringUtilTest, ReplaceChars) {
  std::string output;
  EXPECT_TRUE(ReplaceChars("a/b\\c", "/\\", "//", &output));
  EXPECT_EQ("a//b//c", output);  // replacements are not searched again
  EXPECT_FALSE(ReplaceChars("abc", "x", "y", &output));
  EXPECT_EQ("abc", output);
  std::string in_place = "a-b";
  EXPECT_TRUE(ReplaceChars(in_place, "-", "", &in_place));
  EXPECT_EQ("ab", in_place);
}

TEST(StringUtilTest, ReplaceSubstringsAfterOffset) {
  struct Case {
    const char* text;
    size_t offset;
    const char* find;
    const char* replace;
    bool all;
    const char* result;
  } cases[] = {
      {"aaa", 0, "aa", "b", true, "ba"},
      {"aaaa", 0, "aa", "b", true, "bb"},
      {"abab", 1, "ab", "xyz", true, "abxyz"},
      {"abcabc", 0, "b", "XX", true, "aXXcaXXc"},
      {"abcabc", 0, "b", "X", true, "aXcaXc"},
      {"abcabc", 0, "bc", "", true, "aa"},
      {"abcabc", 0, "b", "XX", false, "aXXcabc"},
      {"abc", 5, "a", "b", true, "abc"},
      {"abc", 0, "z", "b", true, "abc"},
      {"a.a.a", 0, ".", "..", true, "a..a..a"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    ReplaceSubstringsAfterOffset(&text, c.offset, c.find, c.replace, c.all);
    EXPECT_EQ(c.result, text) << c.text << " " << c.find << " -> " << c.replace;
  }
}

TEST(StringUtilTest, JoinString) {
  EXPECT_EQ("", JoinString(std::vector<std::string>(), ","));
  EXPECT_EQ("a, , b", JoinString(std::vector<std::string>{"a", "", "b"}, ", "));
}

TEST(StringUtilTest, ReplaceStringPlaceholders) {
  std::vector<std::wstring> two = {L"A", L"BB"};
  struct Case {
    const wchar_t* format;
    const wchar_t* result;
  } cases[] = {
      {L"$1 and $2 and $3", L"A and BB and "},
      {L"$$1", L"$1"},
      {L"$$$", L"$$"},
      {L"cost $0", L"cost "},
      {L"end$", L"end"},
      {L"$x$2", L"BB"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.result, ReplaceStringPlaceholders(c.format, two, nullptr)) << c.format;

  std::vector<size_t> offsets = {99};  // not cleared
  EXPECT_EQ("BBAA", ReplaceStringPlaceholders("$2$1$1", {"A", "BB"}, &offsets));
  EXPECT_EQ((std::vector<size_t>{99, 3, 2, 0}), offsets);
}

TEST(StringUtilTest, IsValidCharacter) {
  const uint32_t valid[] = {0, 0xD7FF, 0xE000, 0xFDCF, 0xFDF0, 0xFFFD, 0x10000, 0x10FFFD};
  const uint32_t invalid[] = {0xD800, 0xDFFF, 0xFDD0, 0xFDEF, 0xFFFE, 0xFFFF,
                              0x1FFFE, 0x10FFFF, 0x110000};
  for (uint32_t c : valid) EXPECT_TRUE(IsValidCharacter(c)) << std::hex << c;
  for (uint32_t c : invalid) EXPECT_FALSE(IsValidCharacter(c)) << std::hex << c;
}

TEST(StringUtilTest, WriteInto) {
  std::wstring text;
  wchar_t* buffer = WriteInto(&text, 4);
  buffer[0] = L'a';
  buffer[2] = L'c';
  EXPECT_EQ(3u, text.size());
  EXPECT_EQ(L'c', text[2]);
  // A length of 0 gives an empty text, not a resize to -1.
  EXPECT_NE(nullptr, WriteInto(&text, 0));
  EXPECT_TRUE(text.empty());
}

}  // namespace
}  // namespace base
