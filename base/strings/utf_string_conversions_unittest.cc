#include "base/strings/utf_string_conversions.h"

#include <gtest/gtest.h>

namespace base {
namespace {

struct Utf8ToWideCase {
  const char* name;
  std::string utf8;
  std::wstring wide;
};

// Each ill-formed sequence gives exactly one U+FFFD and decoding resumes right after it.
TEST(UTF8ToWideTest, DecodesAndReplacesIllFormedSequences) {
  const Utf8ToWideCase kCases[] = {
      {"empty", "", L""},
      {"ascii", "abc", L"abc"},
      {"two byte", "\xC3\xA9", L"\u00E9"},
      {"four byte to pair", "\xF0\x9F\x98\x80", L"\xD83D\xDE00"},
      {"largest code point", "\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF"},
      {"noncharacter kept", "\xEF\xBF\xBE", L"\uFFFE"},
      {"overlong zero", "\xC0\x80", L"\uFFFD"},
      {"overlong three byte", "\xE0\x80\xAF", L"\uFFFD"},
      {"overlong four byte", "\xF0\x8F\xBF\xBF", L"\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", L"\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", L"\uFFFD"},
      {"lone trail byte", "\x80", L"\uFFFD"},
      {"two trail bytes", "a\x80\xBF" "b", L"a\uFFFD\uFFFD" L"b"},
      {"FE and FF", "\xFE\xFF", L"\uFFFD\uFFFD"},
      {"five byte form", "\xF8\x88\x80\x80\x80" "z", L"\uFFFDz"},
      {"cut short at end", "a\xE2\x82", L"a\uFFFD"},
      {"cut short before ascii", "\xE2\x82" "a", L"\uFFFD" L"a"},
      {"lead after lead", "\xC3\xC3\xA9", L"\uFFFD\u00E9"},
      {"skips only announced trails", "\xC0\x80\x80", L"\uFFFD\uFFFD"},
      {"mixed", "x\xC3\xA9y\xF0\x9F\x98\x80", L"x\u00E9y\xD83D\xDE00"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.wide, UTF8ToWide(c.utf8)) << c.name;
    // The system decoder agrees on well-formed input.
    if (c.wide.find(L'\uFFFD') == std::wstring::npos) {
      EXPECT_EQ(c.wide, SysUTF8ToWide(c.utf8)) << c.name;
    }
  }
}

struct WideToUtf8Case {
  const char* name;
  std::wstring wide;
  std::string utf8;
};

TEST(WideToUTF8Test, EncodesAndReplacesUnpairedSurrogates) {
  const WideToUtf8Case kCases[] = {
      {"two byte", L"\u00E9", "\xC3\xA9"},
      {"U+07FF and U+0800", L"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
      {"pair", L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
      {"lone trail", L"\xDC00", "\xEF\xBF\xBD"},
      {"lead then letter", L"\xD800" L"A", "\xEF\xBF\xBD" "A"},
      {"lead at end", L"a\xD800", "a\xEF\xBF\xBD"},
      {"two leads then trail", L"\xD800\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.utf8, WideToUTF8(c.wide)) << c.name;
    if (c.utf8.find("\xEF\xBF\xBD") == std::string::npos) {
      EXPECT_EQ(c.utf8, SysWideToUTF8(c.wide)) << c.name;
      EXPECT_EQ(c.wide, UTF8ToWide(c.utf8)) << c.name;
    }
  }
}

TEST(UTFConversionTest, LongTextRoundTripsThroughWordSizedASCIICheck) {
  // Non-ASCII at every offset of a long text, so the aligned middle is exercised.
  std::wstring base(40, L'a');
  for (size_t i = 0; i < base.size(); ++i) {
    std::wstring wide = base;
    wide[i] = L'\u0100';
    std::string utf8 = WideToUTF8(wide);
    ASSERT_EQ(41u, utf8.size()) << i;
    EXPECT_EQ(wide, UTF8ToWide(utf8)) << i;
  }
}

TEST(ASCIIConversionTest, WidensSignedAndNarrowsToLowByte) {
  EXPECT_EQ(std::wstring(L"\xFFE9"), ASCIIToWide("\xE9"));
  EXPECT_EQ(std::wstring(L"ok"), ASCIIToWide("ok"));
  EXPECT_EQ(std::string("\xE9"), WideToASCII(L"\u00E9"));
  EXPECT_EQ(std::string("A"), WideToASCII(L"\u0141"));
}

TEST(SysConversionTest, EmbeddedNulsAreData) {
  EXPECT_EQ(std::wstring(), SysUTF8ToWide(""));
  EXPECT_EQ(std::string("a\0b", 3), SysWideToUTF8(std::wstring(L"a\0b", 3)));
}

}  // namespace
}  // namespace base
