#include "base/strings/utf_string_conversion_utils.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(IsStringASCIITest, FindsANonASCIIUnitAtAnyOffset) {
  // Offsets cover the unaligned head, the word-sized middle and the tail.
  char narrow[64];
  wchar_t wide[64];
  for (size_t start = 0; start < 8; ++start) {
    for (size_t length = 0; length + start <= 40; ++length) {
      std::fill(narrow, narrow + 64, 'a');
      std::fill(wide, wide + 64, L'a');
      EXPECT_TRUE(IsStringASCII(StringPiece(narrow + start, length)));
      EXPECT_TRUE(IsStringASCII(StringPiece16(wide + start, length)));
      for (size_t i = 0; i < length; ++i) {
        narrow[start + i] = '\x80';
        EXPECT_FALSE(IsStringASCII(StringPiece(narrow + start, length))) << start << " " << i;
        narrow[start + i] = 'a';
        // 0x80 and 0x100 both fail: every bit from 0x80 up counts, not only the top one.
        for (wchar_t unit : {L'\x80', L'\x100', L'\x8000'}) {
          wide[start + i] = unit;
          EXPECT_FALSE(IsStringASCII(StringPiece16(wide + start, length)))
              << start << " " << i << " " << static_cast<int>(unit);
        }
        wide[start + i] = L'a';
      }
    }
  }
  EXPECT_TRUE(IsStringASCII(L"\x7F"));
  EXPECT_FALSE(IsStringASCII(L"\xE9"));
}

TEST(WriteUnicodeCharacterTest, WritesEachLengthClassAtItsBoundaries) {
  struct Case {
    uint32_t code_point;
    std::string utf8;
    std::wstring utf16;
  };
  const Case kCases[] = {
      {0x0, std::string(1, '\0'), std::wstring(1, L'\0')},
      {0x7F, "\x7F", L"\x7F"},
      {0x80, "\xC2\x80", L"\x80"},
      {0x7FF, "\xDF\xBF", L"\x7FF"},
      {0x800, "\xE0\xA0\x80", L"\x800"},
      {0xFFFF, "\xEF\xBF\xBF", L"\xFFFF"},
      {0x10000, "\xF0\x90\x80\x80", L"\xD800\xDC00"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF"},
  };
  for (const Case& c : kCases) {
    std::string narrow = "x";
    std::wstring wide = L"x";
    EXPECT_EQ(c.utf8.size(), WriteUnicodeCharacter(c.code_point, &narrow));
    EXPECT_EQ(c.utf16.size(), WriteUnicodeCharacter(c.code_point, &wide));
    EXPECT_EQ("x" + c.utf8, narrow) << c.code_point;
    EXPECT_EQ(L"x" + c.utf16, wide) << c.code_point;
  }
}

TEST(Utf8NextCharTest, AdvancesPastEachSequence) {
  const std::string text = "a\xC3\xA9\xE0\x80\xF0\x9F\x98\x80\xFF";
  size_t index = 0;
  EXPECT_EQ('a', Utf8NextChar(text.data(), text.size(), &index));
  EXPECT_EQ(1u, index);
  EXPECT_EQ(0xE9, Utf8NextChar(text.data(), text.size(), &index));
  EXPECT_EQ(3u, index);
  // E0 80 is cut short by the next lead: both trail-less bytes go, the lead F0 stays.
  EXPECT_EQ(-1, Utf8NextChar(text.data(), text.size(), &index));
  EXPECT_EQ(5u, index);
  EXPECT_EQ(0x1F600, Utf8NextChar(text.data(), text.size(), &index));
  EXPECT_EQ(9u, index);
  EXPECT_EQ(-1, Utf8NextChar(text.data(), text.size(), &index));
  EXPECT_EQ(10u, index);
}

}  // namespace
}  // namespace base
